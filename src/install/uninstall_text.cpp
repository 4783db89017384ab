#include "install/uninstall_text.h"

#include <cstdio>
#include <cstring>

bool UninstallTextLength(const char* bytes, uint32_t size, uint32_t& length) {
    if (size > UNINSTALL_LIST_BUFFER_SIZE) return false;
    length = size > 0 && bytes[size - 1] == '\0' ? size - 1 : size;
    return length < UNINSTALL_LIST_BUFFER_SIZE && std::memchr(bytes, '\0', length) == nullptr;
}

bool AppendMissingNames(char* buffer, uint32_t& length, const char* const* names) {
    for (; *names != nullptr; ++names) {
        if (std::strstr(buffer, *names) != nullptr) continue;
        // A last line without its end is ended first: run on, the name would
        // spoil that line for the uninstaller and be no line of its own.
        const bool lineOpen = length > 0 && buffer[length - 1] != '\n';
        const uint32_t room = UNINSTALL_LIST_BUFFER_SIZE - length;
        const int written = std::snprintf(buffer + length, room, lineOpen ? "\n%s\n" : "%s\n", *names);
        if (written < 0 || static_cast<uint32_t>(written) >= room) return false;
        length += static_cast<uint32_t>(written);
    }
    return true;
}
