#include "install/install_paths.h"

#include <cstdio>

namespace {

constexpr unsigned PLACEHOLDER_ATTEMPTS = 16;

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

// Creates an empty file of our own beside `path`, under a name not in use.
bool CreatePlaceholder(char (&out)[MAX_PATH], const char* path) {
    for (unsigned attempt = 0; attempt < PLACEHOLDER_ATTEMPTS; ++attempt) {
        const int length = std::snprintf(out, MAX_PATH, "%s.%u~", path, attempt);
        if (length < 0 || length >= MAX_PATH) return false;
        FileHandle placeholder;
        if (placeholder.CreateNew(out)) return true;
    }
    return false;
}

// Removes whatever stands at `path` as a name. Deleting a link, or setting its
// attributes, can act on the file it points to (Wine does so for host links),
// while renaming onto a link replaces the link itself; so a placeholder of our
// own is renamed over the name first, and only that placeholder is deleted.
bool ClearName(const char* path) {
    char placeholder[MAX_PATH];
    if (!CreatePlaceholder(placeholder, path)) return false;
    if (!MoveFileExA(placeholder, path, MOVEFILE_REPLACE_EXISTING)) {
        // A read-only file refuses the rename; a link never does, so this reset
        // cannot reach through one.
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        if (!MoveFileExA(placeholder, path, MOVEFILE_REPLACE_EXISTING)) {
            DeleteFileA(placeholder);
            return false;
        }
    }
    return DeleteFileA(path) != FALSE;
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

bool CreateFreshFile(FileHandle& file, const char* path) {
    if (file.CreateNew(path)) return true;
    return ClearName(path) && file.CreateNew(path);
}
