#pragma once
// The uninstaller's file list "uninst.lst" in the install folder: lines of
// names, then one NUL.
#include <cstdint>

#include "install/uninstall_text.h"

constexpr char UNINSTALL_LIST_NAME[] = "uninst.lst";
// The new list is written here first and then renamed over the list; a name
// ending in ".tmp", like the run's temporary files, which no install name has,
// and no longer than the list's own, so its path fits wherever the list's does.
constexpr char UNINSTALL_LIST_SCRATCH_NAME[] = "uninst.tmp";

// Appends, each as "name\n", the names (up to the null pointer) that the list's
// text does not hold yet. True only when the list was read and rewritten in full;
// on false the list is unchanged. A read-only, hidden or system list is false.
// An empty file counts as empty text and a file without its final NUL keeps all
// its bytes; a NUL inside the text, a short read or a result beyond the buffer
// gives false.
bool UpdateUninstallList(const char* installFolder, const char* const* installNames);
