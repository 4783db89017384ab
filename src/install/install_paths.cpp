#include "install/install_paths.h"

#include <cstdio>
#include <cstring>

namespace {

bool FormatChecked(char (&out)[MAX_PATH], const char* format, const char* folder, const char* name) {
    const int length = std::snprintf(out, MAX_PATH, format, folder, name);
    if (length < 0 || length >= MAX_PATH) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A component of `length` bytes that is "." or "..".
bool IsDotComponent(const char* start, size_t length) {
    return (length == 1 && start[0] == '.') || (length == 2 && start[0] == '.' && start[1] == '.');
}

}  // namespace

bool FormatInstallPath(char (&out)[MAX_PATH], const char* folder, const char* name) {
    return FormatChecked(out, "%s\\%s", folder, name);
}

bool FormatTemporaryPath(char (&out)[MAX_PATH], const char* folder, const char* name) {
    return FormatChecked(out, "%s\\%s.tmp", folder, name);
}

bool IsContainedName(const char* name) {
    if (name[0] == '\0' || IsSeparator(name[0])) return false;
    if (name[1] == ':') return false;
    const char* componentStart = name;
    const char* p = name;
    for (;;) {
        if (*p == '\0' || IsSeparator(*p)) {
            const size_t length = static_cast<size_t>(p - componentStart);
            if (length == 0 || IsDotComponent(componentStart, length)) return false;
            if (*p == '\0') return true;
            componentStart = ++p;
            continue;
        }
        if (*p == ':') return false;  // alternate data streams and device syntax
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') {
            p += 2;
            continue;
        }
        ++p;
    }
}

bool IsDistinctInstallName(const char* name) {
    constexpr char TEMPORARY_SUFFIX[] = ".tmp";
    constexpr size_t SUFFIX_LENGTH = sizeof TEMPORARY_SUFFIX - 1;
    const size_t length = std::strlen(name);
    // '.' is never a trail byte, so a name ending in these four bytes ends in ".tmp".
    if (length >= SUFFIX_LENGTH && _stricmp(name + length - SUFFIX_LENGTH, TEMPORARY_SUFFIX) == 0) return false;
    for (const char* p = name; *p != '\0';) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') {
            p += 2;
            continue;
        }
        const bool componentEnds = p[1] == '\0' || IsSeparator(p[1]);
        if (componentEnds && (*p == '.' || *p == ' ')) return false;
        ++p;
    }
    return true;
}
