#pragma once
// The uninstaller's file list "uninst.lst" in the install folder: lines of
// names, then one NUL.
#include <cstdint>

#include "install/portable/uninstall_text.h"


// Appends, each as "name\n", the names (up to the null pointer) that the list's
// text does not hold yet. True only when the list was read and rewritten in full;
// on false the list is unchanged. A read-only, hidden or system list is false.
// An empty file counts as empty text and a file without its final NUL keeps all
// its bytes; a NUL inside the text, a short read or a result beyond the buffer
// gives false.
bool UpdateUninstallList(const char* installFolder, const char* const* installNames);
