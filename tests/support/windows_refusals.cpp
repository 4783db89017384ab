#include "support/windows_refusals.h"

#include "support/import_hook.h"

#include <cstring>
#include <string>

namespace testing_support {
namespace {

using MoveFileExAFunction = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);
using CreateFileAFunction = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using DeleteFileAFunction = BOOL(WINAPI*)(LPCSTR);

// The system's own functions, which the replacements call.
AnyFunction realMoveFileEx = nullptr;
AnyFunction realCreateFile = nullptr;
AnyFunction realDeleteFile = nullptr;

ReplacedImports replaced;
unsigned depth = 0;
unsigned refused = 0;

constexpr DWORD WRITING_ACCESS = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr DWORD FINAL_PATH_SIZE = 4 * MAX_PATH;

HANDLE RealCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                      DWORD flags, HANDLE templateFile) {
    return reinterpret_cast<CreateFileAFunction>(realCreateFile)(path, access, share, security, disposition, flags,
                                                                  templateFile);
}

bool Refuse() {
    ++refused;
    SetLastError(ERROR_ACCESS_DENIED);
    return true;
}

bool FinalPathOf(const std::string& path, std::string& finalPath) {
    HANDLE h = RealCreateFile(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    char buffer[FINAL_PATH_SIZE];
    const DWORD length = GetFinalPathNameByHandleA(h, buffer, sizeof buffer, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(h);
    if (length == 0 || length >= sizeof buffer) return false;
    finalPath.assign(buffer, length);
    return true;
}

// Wine follows a link planted from the host on every open and marks no reparse
// point on it; it shows only in the final path, which is that of what it points
// to instead of the folder's followed by the name asked for.
bool IsHostLink(const char* path) {
    const char* leaf = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0') {
            ++p;
        } else if (*p == '\\' || *p == '/') {
            leaf = p + 1;
        }
    }
    if (leaf == path) return false;
    std::string folderFinal, fileFinal;
    if (!FinalPathOf(std::string(path, leaf) + ".", folderFinal) || !FinalPathOf(path, fileFinal)) return false;
    if (folderFinal.back() != '\\') folderFinal += '\\';
    return _stricmp((folderFinal + leaf).c_str(), fileFinal.c_str()) != 0;
}

// The attributes of the file at `path`, through a link to what it points to;
// INVALID_FILE_ATTRIBUTES for nothing there or a folder.
DWORD FileAttributes(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? INVALID_FILE_ATTRIBUTES
                                                                                            : attributes;
}

// The attributes of the name itself: a host link is never read-only, hidden or
// system. Only such attributes call for the slower look at the link.
DWORD OwnAttributes(const char* path) {
    constexpr DWORD REFUSING = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const DWORD attributes = FileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & REFUSING)) return attributes;
    return IsHostLink(path) ? FILE_ATTRIBUTE_NORMAL : attributes;
}

bool IsReadOnly(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

bool RefusesOpen(const char* path, DWORD access, DWORD disposition, DWORD flags) {
    const bool overwrites = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    const bool changes = (access & WRITING_ACCESS) || (flags & FILE_FLAG_DELETE_ON_CLOSE);
    // Reading, and creating only where nothing stands, are never refused.
    if (disposition == CREATE_NEW || (!overwrites && !changes)) return false;
    const DWORD attributes = (flags & FILE_FLAG_OPEN_REPARSE_POINT) ? OwnAttributes(path) : FileAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    const bool attributeKept = ((attributes & FILE_ATTRIBUTE_HIDDEN) && !(flags & FILE_ATTRIBUTE_HIDDEN)) ||
                               ((attributes & FILE_ATTRIBUTE_SYSTEM) && !(flags & FILE_ATTRIBUTE_SYSTEM));
    if (overwrites && (IsReadOnly(attributes) || attributeKept)) return true;
    return IsReadOnly(attributes) && changes;
}

BOOL WINAPI RefusingMoveFileEx(LPCSTR from, LPCSTR to, DWORD flags) {
    if (to && (flags & MOVEFILE_REPLACE_EXISTING) && IsReadOnly(OwnAttributes(to)) && Refuse()) return FALSE;
    return reinterpret_cast<MoveFileExAFunction>(realMoveFileEx)(from, to, flags);
}

// Never replaces, so no rule of its own; a rename like any other.
BOOL WINAPI RefusingMoveFile(LPCSTR from, LPCSTR to) { return RefusingMoveFileEx(from, to, MOVEFILE_COPY_ALLOWED); }

HANDLE WINAPI RefusingCreateFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (path && RefusesOpen(path, access, disposition, flags) && Refuse()) return INVALID_HANDLE_VALUE;
    return RealCreateFile(path, access, share, security, disposition, flags, templateFile);
}

BOOL WINAPI RefusingDeleteFile(LPCSTR path) {
    if (path && IsReadOnly(OwnAttributes(path)) && Refuse()) return FALSE;
    return reinterpret_cast<DeleteFileAFunction>(realDeleteFile)(path);
}

const ImportReplacement REPLACEMENTS[] = {
    {"MoveFileExA", reinterpret_cast<AnyFunction>(RefusingMoveFileEx), &realMoveFileEx},
    {"MoveFileA", reinterpret_cast<AnyFunction>(RefusingMoveFile), nullptr},
    {"CreateFileA", reinterpret_cast<AnyFunction>(RefusingCreateFile), &realCreateFile},
    {"DeleteFileA", reinterpret_cast<AnyFunction>(RefusingDeleteFile), &realDeleteFile},
};

}  // namespace

WindowsRefusals::WindowsRefusals() {
    if (depth == 0 && !replaced.Replace(REPLACEMENTS, sizeof REPLACEMENTS / sizeof REPLACEMENTS[0])) return;
    ++depth;
    installed_ = true;
}

WindowsRefusals::~WindowsRefusals() {
    if (installed_ && --depth == 0) replaced.Restore();
}

unsigned WindowsRefusals::Refused() { return refused; }

}  // namespace testing_support
