#pragma once
// Paths inside the install folder, built into MAX_PATH buffers.
#include <windows.h>

#include "package/portable/install_names.h"

static_assert(MAX_PATH == UPDATER_PATH_SIZE, "install paths are built into MAX_PATH buffers");

// "<folder>\<name>" and "<folder>\<name>.tmp"; false (and an empty buffer) when
// the result would not fit.
bool FormatInstallPath(char (&out)[MAX_PATH], const char* folder, const char* name);
bool FormatTemporaryPath(char (&out)[MAX_PATH], const char* folder, const char* name);
