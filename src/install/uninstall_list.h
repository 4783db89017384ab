#pragma once
// The uninstaller's file list "uninst.lst" in the install folder.

// Appends, each as "name\n", the names (up to the null pointer) that the list's
// text does not hold yet. True only when the list was read and rewritten in full.
bool UpdateUninstallList(const char* installFolder, const char* const* installNames);
