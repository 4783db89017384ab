#pragma once
// Paths inside the install folder, built into MAX_PATH buffers.
#include <windows.h>

// "<folder>\<name>" and "<folder>\<name>.tmp"; false (and an empty buffer) when
// the result would not fit.
bool FormatInstallPath(char (&out)[MAX_PATH], const char* folder, const char* name);
bool FormatTemporaryPath(char (&out)[MAX_PATH], const char* folder, const char* name);
