#include "entry/install_folder.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t KEY_PATH_SIZE = 4096;
constexpr char KEY_ROOT[] = "Software";

}  // namespace

int ReadInstallFolder(char (&folder)[MAX_PATH], const char* publisherName, const char* title) {
    if (!publisherName || !title) return 0;
    char keyPath[KEY_PATH_SIZE];
    const int length = std::snprintf(keyPath, sizeof keyPath, "%s\\%s\\%s", KEY_ROOT, publisherName, title);
    if (length < 0 || static_cast<size_t>(length) >= sizeof keyPath) return 0;

    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;

    // Zero-filled first: a value stored without its terminator but shorter than
    // the buffer still ends in a NUL; one that fills the buffer is refused below.
    std::memset(folder, 0, sizeof folder);
    DWORD type = 0;
    DWORD size = sizeof folder;
    const LONG status =
        RegQueryValueExA(key, INSTALL_FOLDER_VALUE_NAME, nullptr, &type, reinterpret_cast<BYTE*>(folder), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ || !std::memchr(folder, 0, sizeof folder) || folder[0] == '\0') {
        folder[0] = '\0';
        return 0;
    }
    return 1;
}
