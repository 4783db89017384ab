#pragma once
#include <windows.h>

namespace testing_support {

// Wine run as root (as in CI) lets CREATE_ALWAYS and renames overwrite read-only
// files; tests of the refusal itself cannot observe it there.
inline bool ReadOnlyIsEnforced() {
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    char path[MAX_PATH];
    GetTempFileNameA(folder, "ro", 0, path);
    SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY);
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool enforced = h == INVALID_HANDLE_VALUE;
    if (!enforced) CloseHandle(h);
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path);
    return enforced;
}

}  // namespace testing_support
