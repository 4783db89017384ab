#pragma once
// Moves the verified temporary files into place and updates the installed lists.
#include <cstdint>

#include "package/portable/update_result.h"

// Renames "<folder>\<name>.tmp" onto "<folder>\<name>" for every name in index
// order, then prunes the installed hash-value list and extends "uninst.lst".
// UPDATE_OK, UPDATE_E_IO (a rename failed; the names before it were moved) or
// UPDATE_E_UNINSTALL_LIST (every file was moved).
UpdateResult CommitPass(const char* installFolder, const char* const* installNames, uint32_t count);
