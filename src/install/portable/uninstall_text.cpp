#include "install/portable/uninstall_text.h"

#include <cstdio>
#include <cstring>

bool UninstallTextLength(const char* bytes, uint32_t size, uint32_t& length) {
    if (size > UNINSTALL_LIST_BUFFER_SIZE) return false;
    length = size > 0 && bytes[size - 1] == '\0' ? size - 1 : size;
    return length < UNINSTALL_LIST_BUFFER_SIZE && std::memchr(bytes, '\0', length) == nullptr;
}

bool ListsName(const char* text, uint32_t length, const char* name) {
    const size_t nameLength = std::strlen(name);
    for (uint32_t start = 0;;) {
        const void* lineFeed = std::memchr(text + start, '\n', length - start);
        const uint32_t end = lineFeed ? static_cast<uint32_t>(static_cast<const char*>(lineFeed) - text) : length;
        const uint32_t lineEnd = lineFeed && end > start && text[end - 1] == '\r' ? end - 1 : end;
        if (lineEnd - start == nameLength && std::memcmp(text + start, name, nameLength) == 0) return true;
        if (!lineFeed) return false;
        start = end + 1;
    }
}

bool AppendMissingNames(char* buffer, uint32_t& length, const char* const* names) {
    for (; *names != nullptr; ++names) {
        if (**names == '\0' || ListsName(buffer, length, *names)) continue;
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
