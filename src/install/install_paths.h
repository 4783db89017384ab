#pragma once
// Paths inside the install folder, built into MAX_PATH buffers.
#include <windows.h>

#include "install/link_guard.h"
#include "io/file_handle.h"

// "<folder>\<name>" and "<folder>\<name>.tmp"; false (and an empty buffer) when
// the result would not fit.
bool FormatInstallPath(char (&out)[MAX_PATH], const char* folder, const char* name);
bool FormatTemporaryPath(char (&out)[MAX_PATH], const char* folder, const char* name);

// Removes whatever stands at `path` as a name: a file, even read-only or
// hidden, or a link, never what a link points to. Folders are left alone.
bool RemoveName(const char* path);

// Opens a new, empty file at `path` for writing and identifies it, so that only
// this file is ever deleted by that name. Whatever stood there before (a stale
// file of an earlier run, even read-only or hidden, or a planted link) is
// removed as a name first, never through a link to what it points to, and the
// file is created only if nothing appeared there in between. A file that is
// not plain where it was asked for (see IsPlainFileAt) is taken away again;
// false then.
bool CreateFreshFile(FileHandle& file, const char* path, FileIdentity& identity);
