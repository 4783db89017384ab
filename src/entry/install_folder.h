#pragma once
// The game's install folder as its installer recorded it in the machine-wide registry.
#include <windows.h>

// Key "Software\<publisher>\<title>" under HKEY_LOCAL_MACHINE, value "InstalledFolder".
constexpr char INSTALL_FOLDER_VALUE_NAME[] = "InstalledFolder";

// Reads the value into `folder`: 1 when it is a REG_SZ that fits the buffer with
// its terminator and is not empty, else 0. A value that fills all MAX_PATH bytes
// without a terminator reads as not installed, as does an empty one (its paths
// would name the root of the current drive).
int ReadInstallFolder(char (&folder)[MAX_PATH], const char* publisherName, const char* title);
