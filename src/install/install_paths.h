#pragma once
// Paths inside the install folder, built into MAX_PATH buffers.
#include <windows.h>

// What a temporary name ends in; no install name does.
constexpr char TEMPORARY_SUFFIX[] = ".tmp";

// "<folder>\<name>" and "<folder>\<name>.tmp"; false (and an empty buffer) when
// the result would not fit.
bool FormatInstallPath(char (&out)[MAX_PATH], const char* folder, const char* name);
bool FormatTemporaryPath(char (&out)[MAX_PATH], const char* folder, const char* name);
