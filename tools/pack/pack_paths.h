#pragma once
// Install paths as stored in hash-value records: relative, Shift-JIS, "\" between folders.
#include <string>

// Checks an install path given in UTF-8 ("/" or "\" between folders) and gives
// its stored form. False, with the reason in `why`, for an empty path, text
// without a Shift-JIS form, a path the updater refuses (CheckInstallName:
// leaving the folder, a device, ".tmp", a name Windows alters) or one whose
// file it cannot create (HoldsUnusableCharacter).
bool StoredInstallPath(const std::string& utf8, std::string& sjis, std::string& why);

// The last component of a Shift-JIS path, split the way the updater splits it:
// a drive prefix is skipped, "\" and "/" separate, trail bytes never do.
std::string LastComponent(const std::string& sjis);

// The last component of a local file name given on the command line.
std::string BaseName(const std::string& path);

// The folder part of a host path: "." when it has none, "/" for a name in the root.
std::string HostFolderOf(const std::string& path);
