#pragma once
// A game as its installer leaves it, for programs started as the player starts
// them: its files in a folder, the installed hash-value list, "uninst.lst", and
// the registry value that names the folder.
#include <windows.h>

#include <string>
#include <vector>

#include "entry/install_folder.h"
#include "entry/program_names.h"
#include "support/package_builder.h"
#include "support/win_files.h"

namespace testing_support {

inline std::string PublisherKeyPath() { return std::string("Software\\") + PUBLISHER_NAME; }
inline std::string GameKeyPath() { return PublisherKeyPath() + "\\" + GAME_TITLE; }

// The install folder's value with any type and bytes, as a damaged installation may hold it.
inline bool SetInstallFolderValue(DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, GameKeyPath().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool set =
        RegSetValueExA(key, INSTALL_FOLDER_VALUE_NAME, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return set;
}

// The folder as the installer records it: REG_SZ with its terminator.
inline bool RegisterInstallFolder(const std::string& folder) {
    return SetInstallFolderValue(REG_SZ, folder.c_str(), static_cast<DWORD>(folder.size() + 1));
}

// No game installed: the game's key and its publisher's are gone.
inline void UnregisterGame() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, GameKeyPath().c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, PublisherKeyPath().c_str());
}

// Writes `files` into `folder`, "KVX.hvl" with a record for each of them and one
// for a file that is gone, "uninst.lst" holding `uninstallText` and its final
// NUL, and registers the folder.
inline bool InstallGame(const std::string& folder, const std::vector<TestEntry>& files,
                        const std::string& uninstallText) {
    std::vector<TestRecord> records;
    for (const TestEntry& file : files) {
        if (!WriteWholeFile(folder + "\\" + file.name, file.data)) return false;
        records.push_back({file.name, ChecksumOf(file.data)});
    }
    records.push_back({"gone.arc", Bytes(CHECKSUM_SIZE, 0x11)});
    Bytes uninstallList = BytesOf(uninstallText);
    uninstallList.push_back(0);
    return WriteWholeFile(folder + "\\" + INSTALLED_LIST_NAME, HashValueListBytes(records)) &&
           WriteWholeFile(folder + "\\uninst.lst", uninstallList) && RegisterInstallFolder(folder);
}

}  // namespace testing_support
