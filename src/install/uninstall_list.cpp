#include "install/uninstall_list.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "install/install_paths.h"
#include "install/list_file.h"

namespace {

// Reads the list into `buffer` (UNINSTALL_LIST_BUFFER_SIZE bytes) as one
// NUL-terminated text and gives its length. The final NUL of the file, when it
// has one, is where the text ends; any other NUL puts the file outside the format.
bool ReadListText(const char* path, char* buffer, uint32_t& length) {
    FileHandle file;
    uint32_t size = 0;
    if (!OpenListFile(file, path, size) || size > UNINSTALL_LIST_BUFFER_SIZE) return false;
    if (file.Read(buffer, size) != size) return false;
    length = size > 0 && buffer[size - 1] == '\0' ? size - 1 : size;
    if (length == UNINSTALL_LIST_BUFFER_SIZE || std::memchr(buffer, '\0', length) != nullptr) return false;
    buffer[length] = '\0';
    return true;
}

// Appends "name\n" for each name that the text does not hold anywhere yet, the
// lines appended before it included. False when the text would outgrow the buffer.
bool AppendMissingNames(char* buffer, uint32_t& length, const char* const* names) {
    for (; *names != nullptr; ++names) {
        if (std::strstr(buffer, *names) != nullptr) continue;
        const uint32_t room = UNINSTALL_LIST_BUFFER_SIZE - length;
        const int written = std::snprintf(buffer + length, room, "%s\n", *names);
        if (written < 0 || static_cast<uint32_t>(written) >= room) return false;
        length += static_cast<uint32_t>(written);
    }
    return true;
}

}  // namespace

bool UpdateUninstallList(const char* installFolder, const char* const* installNames) {
    char listPath[MAX_PATH];
    char scratchPath[MAX_PATH];
    if (!FormatInstallPath(listPath, installFolder, UNINSTALL_LIST_NAME) ||
        !FormatInstallPath(scratchPath, installFolder, UNINSTALL_LIST_SCRATCH_NAME)) {
        return false;
    }
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[UNINSTALL_LIST_BUFFER_SIZE]);
    if (!buffer) return false;
    uint32_t length = 0;
    if (!ReadListText(listPath, buffer.get(), length)) return false;
    if (!AppendMissingNames(buffer.get(), length, installNames)) return false;
    return ReplaceListFile(listPath, scratchPath, buffer.get(), length + 1);
}
