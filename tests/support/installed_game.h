#pragma once
// A game as its installer leaves it, for programs started as the player starts
// them: its files in a folder, the installed hash-value list, "uninst.lst", and
// the registry value that names the folder.
#include <windows.h>

#include <string>
#include <vector>

#include "support/package_builder.h"
#include "support/win_files.h"

namespace testing_support {

// The install folder's value with any type and bytes, as a damaged installation may hold it.
bool SetInstallFolderValue(DWORD type, const void* data, DWORD size);

// The folder as the installer records it: REG_SZ with its terminator.
bool RegisterInstallFolder(const std::string& folder);

// No game installed: the game's key and its publisher's are gone.
void UnregisterGame();

// Writes `files` into `folder`, "KVX.hvl" with a record for each of them and one
// for a file that is gone (the records also into `records` when given),
// "uninst.lst" holding `uninstallText` and its final NUL, and registers the folder.
bool InstallGame(const std::string& folder, const std::vector<TestEntry>& files, const std::string& uninstallText,
                 std::vector<TestRecord>* records = nullptr);

}  // namespace testing_support
