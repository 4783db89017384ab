#pragma once
// The one operation that performs the update.
#include "package/portable/update_result.h"

// Extracts the package appended to the running executable into `installFolder`
// (no trailing backslash), verifies, commits and cleans up. The progress dialog
// must exist and belong to the calling thread, whose messages the run pumps.
// A package list that is found but cannot be loaded whole from its entry, install
// names that CheckInstallName refuses, or that name one file twice, make the
// package damaged (UPDATE_E_CORRUPT) before anything is opened by them; a name
// holding a character Windows refuses in file names gets no temporary file
// (UPDATE_E_IO), nor does a path longer than MAX_PATH; memory that cannot be
// had gives UPDATE_E_IO. Every temporary file the run recorded is deleted
// before it returns; each one is flushed to disk before the commit renames the
// first.
UpdateResult UpdateRun(const char* installFolder);

// The same with the package read from `packagePath` (tests and tools).
UpdateResult UpdateRunFromPackage(const char* packagePath, const char* installFolder);
