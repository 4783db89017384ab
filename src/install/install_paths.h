#pragma once
// Paths inside the install folder, built into MAX_PATH buffers.
#include <windows.h>

// "<folder>\<name>" and "<folder>\<name>.tmp"; false (and an empty buffer) when
// the result would not fit.
bool FormatInstallPath(char (&out)[MAX_PATH], const char* folder, const char* name);
bool FormatTemporaryPath(char (&out)[MAX_PATH], const char* folder, const char* name);

// True when `name` is a relative path that stays inside the folder: not empty,
// no drive prefix, not rooted or UNC, and no "." or ".." component. Separators
// are found under the ANSI code page, so a trail byte 0x5C is no separator.
bool IsContainedName(const char* name);

// True when `name` may be given to an installed file without standing for
// another: its last component does not end in ".tmp" (the run's temporary
// files, which the commit renames and the cleanup deletes), and no component
// ends in "." or " ", which the file system drops ("a.arc." is "a.arc").
bool IsDistinctInstallName(const char* name);
