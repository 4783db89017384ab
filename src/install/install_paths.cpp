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

// Creates an empty file of our own beside `path`, under a name not in use.
bool CreatePlaceholder(char (&out)[MAX_PATH], const char* path, FileIdentity& identity) {
    for (unsigned attempt = 0; attempt < PLACEHOLDER_ATTEMPTS; ++attempt) {
        const int length = std::snprintf(out, MAX_PATH, "%s.%u~", path, attempt);
        if (length < 0 || length >= MAX_PATH) return false;
        FileHandle placeholder;
        if (!placeholder.CreateNew(out)) continue;
        if (IdentifyFile(placeholder, identity) && IsPlainFileAt(placeholder, out)) return true;
        placeholder.Close();
        DeleteOwnFile(out, identity);
        return false;
    }
    return false;
}

}  // namespace

// Deleting a link, or setting its attributes, can act on the file it points to
// (Wine does so for host links), while renaming onto a link replaces the link
// itself; so a placeholder of our own is renamed over the name first, and only
// that placeholder is deleted.
bool RemoveName(const char* path) {
    char placeholder[MAX_PATH];
    FileIdentity identity;
    if (!CreatePlaceholder(placeholder, path, identity)) return false;
    if (!MoveFileExA(placeholder, path, MOVEFILE_REPLACE_EXISTING)) {
        // A read-only file refuses the rename; its attributes are reset only
        // when it is a plain file, never through a link or on a folder.
        if (!ClearAttributesOfPlainFile(path) || !MoveFileExA(placeholder, path, MOVEFILE_REPLACE_EXISTING)) {
            DeleteOwnFile(placeholder, identity);
            return false;
        }
    }
    return DeleteOwnFile(path, identity);
}

bool FormatInstallPath(char (&out)[MAX_PATH], const char* folder, const char* name) {
    return FormatChecked(out, "%s\\%s", folder, name);
}

bool FormatTemporaryPath(char (&out)[MAX_PATH], const char* folder, const char* name) {
    return FormatChecked(out, "%s\\%s.tmp", folder, name);
}

bool CreateFreshFile(FileHandle& file, const char* path, FileIdentity& identity) {
    if (!file.CreateNew(path) && !(RemoveName(path) && file.CreateNew(path))) return false;
    if (!IdentifyFile(file, identity)) {
        file.Close();
        return false;
    }
    if (IsPlainFileAt(file, path)) return true;
    file.Close();
    DeleteOwnFile(path, identity);
    return false;
}
