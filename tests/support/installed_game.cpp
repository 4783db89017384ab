#include "support/installed_game.h"

#include "entry/install_folder.h"
#include "entry/program_names.h"

namespace testing_support {

static std::string PublisherKeyPath() { return std::string("Software\\") + PUBLISHER_NAME; }
static std::string GameKeyPath() { return PublisherKeyPath() + "\\" + GAME_TITLE; }

bool SetInstallFolderValue(DWORD type, const void* data, DWORD size) {
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

bool RegisterInstallFolder(const std::string& folder) {
    return SetInstallFolderValue(REG_SZ, folder.c_str(), static_cast<DWORD>(folder.size() + 1));
}

void UnregisterGame() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, GameKeyPath().c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, PublisherKeyPath().c_str());
}

bool InstallGame(const std::string& folder, const std::vector<TestEntry>& files, const std::string& uninstallText,
                 std::vector<TestRecord>* records) {
    std::vector<TestRecord> listed;
    for (const TestEntry& file : files) {
        if (!WriteWholeFile(folder + "\\" + file.name, file.data)) return false;
        listed.push_back({file.name, ChecksumOf(file.data)});
    }
    listed.push_back({"gone.arc", Bytes(CHECKSUM_SIZE, 0x11)});
    if (records) *records = listed;
    Bytes uninstallList = BytesOf(uninstallText);
    uninstallList.push_back(0);
    return WriteWholeFile(folder + "\\" + INSTALLED_LIST_NAME, HashValueListBytes(listed)) &&
           WriteWholeFile(folder + "\\uninst.lst", uninstallList) && RegisterInstallFolder(folder);
}

}  // namespace testing_support
