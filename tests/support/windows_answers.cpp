#include "support/windows_answers.h"

#include <cstring>
#include <vector>

#include "support/import_hook.h"

namespace testing_support {
namespace {

using CreateFileAFunction = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using GetFileAttributesAFunction = DWORD(WINAPI*)(LPCSTR);
using GetFileInformationByHandleFunction = BOOL(WINAPI*)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
using GetFileInformationByHandleExFunction = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
using GetFinalPathNameByHandleAFunction = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);

AnyFunction realGetFileAttributes = nullptr;
AnyFunction realGetFileInformation = nullptr;
AnyFunction realGetFileInformationEx = nullptr;
AnyFunction realGetFinalPath = nullptr;

constexpr DWORD FINAL_PATH_SIZE = 4 * MAX_PATH;
constexpr char VOLUME_GUID_NAME[] = "\\\\?\\Volume{5d1f0a27-3c1e-4b8a-9d2f-53756e647269}";
constexpr char VOLUME_NT_NAME[] = "\\Device\\HarddiskVolume9";

struct ChosenReparsePoint {
    std::string finalPath;
    DWORD tag;
    bool within;
};

struct ChosenRoot {
    std::string finalPath;
    VolumeNaming naming;
};

ReplacedImports replaced;
std::vector<ChosenReparsePoint> reparsePoints;
std::vector<ChosenRoot> roots;
bool identityRefused = false;

// Wine's own final path of `file`, in the DOS form.
bool RealFinalPath(HANDLE file, std::string& finalPath) {
    char buffer[FINAL_PATH_SIZE];
    const DWORD length = reinterpret_cast<GetFinalPathNameByHandleAFunction>(realGetFinalPath)(
        file, buffer, sizeof buffer, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof buffer) return false;
    finalPath.assign(buffer, length);
    return true;
}

bool RealFinalPathOf(const std::string& path, std::string& finalPath) {
    // The system's own CreateFileA: this program's entry may lead to WindowsRefusals.
    static const auto create = reinterpret_cast<CreateFileAFunction>(
        reinterpret_cast<AnyFunction>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateFileA")));
    HANDLE h = create(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool found = RealFinalPath(h, finalPath);
    CloseHandle(h);
    return found;
}

// `finalPath` is `chosen` or, with `within`, inside it; `rest` gets what follows.
bool IsAtOrIn(const std::string& finalPath, const std::string& chosen, bool within, std::string* rest = nullptr) {
    if (finalPath.size() < chosen.size() || _strnicmp(finalPath.c_str(), chosen.c_str(), chosen.size()) != 0) {
        return false;
    }
    const std::string after = finalPath.substr(chosen.size());
    if (!after.empty() && !(within && after[0] == '\\')) return false;
    if (rest) *rest = after;
    return true;
}

const ChosenReparsePoint* ReparsePointAt(const std::string& finalPath) {
    for (const ChosenReparsePoint& chosen : reparsePoints) {
        if (IsAtOrIn(finalPath, chosen.finalPath, chosen.within)) return &chosen;
    }
    return nullptr;
}

DWORD WINAPI AnsweringGetFileAttributes(LPCSTR path) {
    const DWORD attributes = reinterpret_cast<GetFileAttributesAFunction>(realGetFileAttributes)(path);
    std::string finalPath;
    if (attributes == INVALID_FILE_ATTRIBUTES || reparsePoints.empty() || !path || !RealFinalPathOf(path, finalPath) ||
        !ReparsePointAt(finalPath)) {
        return attributes;
    }
    return attributes | FILE_ATTRIBUTE_REPARSE_POINT;
}

BOOL WINAPI AnsweringGetFileInformation(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
    if (identityRefused) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return reinterpret_cast<GetFileInformationByHandleFunction>(realGetFileInformation)(file, information);
}

BOOL WINAPI AnsweringGetFileInformationEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information,
                                          DWORD size) {
    if (identityRefused) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!reinterpret_cast<GetFileInformationByHandleExFunction>(realGetFileInformationEx)(file, kind, information,
                                                                                         size)) {
        return FALSE;
    }
    std::string finalPath;
    if (kind != FileAttributeTagInfo || !RealFinalPath(file, finalPath)) return TRUE;
    if (const ChosenReparsePoint* chosen = ReparsePointAt(finalPath)) {
        auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(information);
        tag->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        tag->ReparseTag = chosen->tag;
    }
    return TRUE;
}

// The answer `text` as GetFinalPathNameByHandleA gives it.
DWORD Answer(const std::string& text, LPSTR out, DWORD size) {
    const DWORD length = static_cast<DWORD>(text.size());
    if (!out || length >= size) return length + 1;
    std::memcpy(out, text.c_str(), length + 1);
    return length;
}

DWORD Refuse(DWORD error) {
    SetLastError(error);
    return 0;
}

DWORD WINAPI AnsweringGetFinalPath(HANDLE file, LPSTR out, DWORD size, DWORD flags) {
    const auto real = reinterpret_cast<GetFinalPathNameByHandleAFunction>(realGetFinalPath);
    std::string finalPath, rest;
    const ChosenRoot* root = nullptr;
    if (RealFinalPath(file, finalPath)) {
        for (const ChosenRoot& chosen : roots) {
            if (IsAtOrIn(finalPath, chosen.finalPath, true, &rest)) root = &chosen;
        }
    }
    if (!root) return real(file, out, size, flags);
    if (rest.empty()) rest = "\\";  // the root itself
    switch (flags & (VOLUME_NAME_GUID | VOLUME_NAME_NT | VOLUME_NAME_NONE)) {
        case VOLUME_NAME_DOS:
            if (root->naming != VolumeNaming::MOUNTED_IN_FOLDER) return Refuse(ERROR_PATH_NOT_FOUND);
            return Answer(root->finalPath + rest, out, size);
        case VOLUME_NAME_GUID:
            if (root->naming == VolumeNaming::NT_NAME_ONLY) return Refuse(ERROR_PATH_NOT_FOUND);
            return Answer(VOLUME_GUID_NAME + rest, out, size);
        case VOLUME_NAME_NT: return Answer(VOLUME_NT_NAME + rest, out, size);
        case VOLUME_NAME_NONE: return Answer(rest, out, size);
        default: return Refuse(ERROR_INVALID_PARAMETER);
    }
}

const ImportReplacement REPLACEMENTS[] = {
    {"GetFileAttributesA", reinterpret_cast<AnyFunction>(AnsweringGetFileAttributes), &realGetFileAttributes},
    {"GetFileInformationByHandle", reinterpret_cast<AnyFunction>(AnsweringGetFileInformation),
     &realGetFileInformation},
    {"GetFileInformationByHandleEx", reinterpret_cast<AnyFunction>(AnsweringGetFileInformationEx),
     &realGetFileInformationEx},
    {"GetFinalPathNameByHandleA", reinterpret_cast<AnyFunction>(AnsweringGetFinalPath), &realGetFinalPath},
};

}  // namespace

WindowsAnswers::WindowsAnswers() {
    installed_ = replaced.Replace(REPLACEMENTS, sizeof REPLACEMENTS / sizeof REPLACEMENTS[0]);
}

WindowsAnswers::~WindowsAnswers() {
    if (installed_) replaced.Restore();
    reparsePoints.clear();
    roots.clear();
    identityRefused = false;
}

bool WindowsAnswers::ReparsePoint(const std::string& path, DWORD tag, bool within) {
    const size_t leaf = path.find_last_of('\\');
    std::string folder;
    if (leaf == std::string::npos || !RealFinalPathOf(path.substr(0, leaf) + "\\.", folder)) return false;
    if (folder.back() != '\\') folder += '\\';
    reparsePoints.push_back({folder + path.substr(leaf + 1), tag, within});
    return true;
}

bool WindowsAnswers::VolumeRoot(const std::string& path, VolumeNaming naming) {
    std::string finalPath;
    if (!RealFinalPathOf(path, finalPath)) return false;
    roots.push_back({finalPath, naming});
    return true;
}

void WindowsAnswers::RefuseIdentity() { identityRefused = true; }

}  // namespace testing_support
