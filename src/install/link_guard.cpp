#include "install/link_guard.h"

#include <winternl.h>

#include <cstdio>
#include <cstring>

#include "install/install_paths.h"
#include "package/lower_case.h"
#include "package/portable/multibyte_walk.h"

namespace {

// A final path carries a "\\?\" prefix and long names where the path had short ones.
constexpr DWORD FINAL_PATH_SIZE = 4 * MAX_PATH;

constexpr unsigned PLACEHOLDER_ATTEMPTS = 16;

// The forms a final path is asked in, in this order: a volume without a drive
// letter has no DOS form, and one the mount manager does not know has no GUID
// form either; the NT form is always there. A file is compared with its folder
// in the form the folder's path was had in.
constexpr DWORD VOLUME_NAME_FORMS[] = {VOLUME_NAME_DOS, VOLUME_NAME_GUID, VOLUME_NAME_NT};

// False when the final path does not fit or its volume has no name of `form`.
bool FinalPathOf(const FileHandle& file, DWORD form, char (&out)[FINAL_PATH_SIZE], DWORD& length) {
    length = GetFinalPathNameByHandleA(file.Native(), out, FINAL_PATH_SIZE, FILE_NAME_NORMALIZED | form);
    return length != 0 && length < FINAL_PATH_SIZE;
}

// The final path in the first form the volume has; `form` gets that form.
bool FinalPathInSomeForm(const FileHandle& file, char (&out)[FINAL_PATH_SIZE], DWORD& length, DWORD& form) {
    for (const DWORD each : VOLUME_NAME_FORMS) {
        if (!FinalPathOf(file, each, out, length)) continue;
        form = each;
        return true;
    }
    return false;
}

// A volume's root is the one final path that ends in a separator, in every
// form ("\\?\C:\", "\\?\Volume{...}\", "\Device\HarddiskVolume3\", a folder the
// volume is mounted in); walked by characters, so a trail byte 5C is none.
bool IsRootPath(const char* path) { return *LastComponentOf(path, IsAnsiLeadByte) == '\0'; }

// While a run remembers folders, the final path of the folder last asked for:
// a run creates its files in one or a few folders, and the query is costly
// (Wine asks its mount manager each time). An earlier answer is no weaker: a
// file that matches it stands in the folder the name led to when it was asked,
// and a folder swapped for a link since then leads elsewhere, so nothing in it
// matches any more.
struct RememberedFolder {
    bool on;
    DWORD length;  // 0: none remembered
    DWORD form;    // the VOLUME_NAME_ form of `finalPath`
    DWORD volume;  // the folder's volume serial number
    char folder[MAX_PATH];
    char finalPath[FINAL_PATH_SIZE];
};
RememberedFolder remembered = {};

// The final path, its form and the volume serial number of the folder at `folderPath`.
bool FinalPathOfFolder(const char* folderPath, char (&out)[FINAL_PATH_SIZE], DWORD& length, DWORD& form,
                       DWORD& volume) {
    if (remembered.on && remembered.length != 0 && std::strcmp(remembered.folder, folderPath) == 0) {
        std::memcpy(out, remembered.finalPath, remembered.length + 1);
        length = remembered.length;
        form = remembered.form;
        volume = remembered.volume;
        return true;
    }
    FileHandle folder;
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder.OpenFolder(folderPath) || !FinalPathInSomeForm(folder, out, length, form) ||
        !GetFileInformationByHandle(folder.Native(), &info)) {
        return false;
    }
    volume = info.dwVolumeSerialNumber;
    const size_t folderLength = std::strlen(folderPath);
    if (remembered.on && folderLength < sizeof remembered.folder) {
        std::memcpy(remembered.folder, folderPath, folderLength + 1);
        std::memcpy(remembered.finalPath, out, length + 1);
        remembered.length = length;
        remembered.form = form;
        remembered.volume = volume;
    }
    return true;
}

// The final path names what was really opened. Wine follows a host link even
// when asked not to and marks no reparse point on it, so a link shows only
// here: the final path of what `path` opened (a file, or a folder on the way)
// must be its folder's plus the name asked for. `folderVolume` gets the volume
// serial number of that folder.
bool ReachedDirectly(const FileHandle& file, const char* path, DWORD& folderVolume) {
    const char* leaf = LastComponentOf(path, IsAnsiLeadByte);
    if (leaf == path || *leaf == '\0') return false;
    char folderPath[MAX_PATH];
    const int folderLength = static_cast<int>(leaf - path) - 1;
    const int written = std::snprintf(folderPath, sizeof folderPath, "%.*s\\.", folderLength, path);
    if (written < 0 || written >= static_cast<int>(sizeof folderPath)) return false;

    char folderFinal[FINAL_PATH_SIZE];
    DWORD folderFinalLength = 0;
    DWORD form = 0;
    char fileFinal[FINAL_PATH_SIZE];
    DWORD fileFinalLength = 0;
    if (!FinalPathOfFolder(folderPath, folderFinal, folderFinalLength, form, folderVolume) ||
        !FinalPathOf(file, form, fileFinal, fileFinalLength)) {
        return false;
    }
    if (std::strncmp(fileFinal, folderFinal, folderFinalLength) != 0) return false;
    const char* rest = fileFinal + folderFinalLength;
    if (!IsRootPath(folderFinal) && *rest++ != '\\') return false;
    char loweredLeaf[MAX_PATH];
    return LoweredCopy(leaf, loweredLeaf, sizeof loweredLeaf) && LoweredNameEquals(rest, loweredLeaf);
}

// GetFileInformationByHandle also asks for the volume's serial number, which
// costs Wine a round trip to its mount manager, far dearer than each query
// below; a plain file takes its folder's instead.
struct FileFacts {
    DWORD attributes;
    DWORD reparseTag;
    DWORD links;
    DWORD indexHigh;
    DWORD indexLow;
};

// FILE_INTERNAL_INFORMATION, which winternl.h leaves out: the file index that
// GetFileInformationByHandle reports as nFileIndexHigh and nFileIndexLow.
struct InternalInformation {
    LARGE_INTEGER indexNumber;
};

bool ReadFacts(const FileHandle& file, FileFacts& facts) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    FILE_STANDARD_INFO standard;
    InternalInformation internal;
    IO_STATUS_BLOCK status;
    if (!GetFileInformationByHandleEx(file.Native(), FileAttributeTagInfo, &tag, sizeof tag) ||
        !GetFileInformationByHandleEx(file.Native(), FileStandardInfo, &standard, sizeof standard) ||
        NtQueryInformationFile(file.Native(), &status, &internal, sizeof internal, FileInternalInformation) < 0) {
        return false;
    }
    facts.attributes = tag.FileAttributes;
    facts.reparseTag = tag.ReparseTag;
    facts.links = standard.NumberOfLinks;
    facts.indexHigh = static_cast<DWORD>(internal.indexNumber.HighPart);
    facts.indexLow = internal.indexNumber.LowPart;
    return true;
}

// Only a name-surrogate reparse point (a symbolic link, a junction, a mount
// point) leads a name elsewhere. Windows also marks system-compressed files
// (compact /exe), cloud placeholders and deduplicated files as reparse
// points; those are the files and folders they seem.
bool RedirectsAName(DWORD attributes, DWORD reparseTag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(reparseTag);
}

// Tells whether `file` is plain where `path` names it (see IsPlainFileAt);
// then `volume` gets its folder's volume serial number.
bool InspectFacts(const FileHandle& file, const char* path, const FileFacts& facts, DWORD& volume) {
    return GetFileType(file.Native()) == FILE_TYPE_DISK && (facts.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           !RedirectsAName(facts.attributes, facts.reparseTag) && facts.links == 1 &&
           ReachedDirectly(file, path, volume);
}

// Identifies `file` when it is plain where `path` names it. A plain file
// stands directly in the folder whose final path and volume were read
// together, so that volume is its own.
bool IdentifyPlainFile(const FileHandle& file, const char* path, FileIdentity& identity) {
    FileFacts facts;
    DWORD volume = 0;
    if (!ReadFacts(file, facts) || !InspectFacts(file, path, facts, volume)) return false;
    identity = FileIdentity{volume, facts.indexHigh, facts.indexLow};
    return true;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

// Deleted through the handle: the name cannot be swapped for a link in between.
bool DeleteThrough(const FileHandle& file) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(file.Native(), FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// Keeps the file just created at `path` when it is plain there and can be
// identified; anything else is deleted through the handle that created it,
// so nothing this run made stays behind.
bool KeepIfPlain(FileHandle& file, const char* path, FileIdentity& identity) {
    if (IdentifyPlainFile(file, path, identity)) return true;
    DeleteThrough(file);
    file.Close();
    return false;
}

// A placeholder for "<x>.tmp" is "<x>.~N", N a hex digit: never longer than the
// name it stands in for, so it fits wherever that name does.
bool FormatPlaceholderPath(char (&out)[MAX_PATH], const char* path, unsigned attempt) {
    const size_t length = std::strlen(path);
    const size_t suffix = sizeof TEMPORARY_SUFFIX - 1;
    // '.' is never a trail byte, so these four bytes are the name's own ".tmp".
    if (length < suffix || std::strcmp(path + length - suffix, TEMPORARY_SUFFIX) != 0) return false;
    const int written = std::snprintf(out, MAX_PATH, "%.*s.~%x", static_cast<int>(length - suffix), path, attempt);
    return written > 0 && written < MAX_PATH;
}

// Creates an empty file of our own beside `path`, under a name not in use.
bool CreatePlaceholder(char (&out)[MAX_PATH], const char* path, FileIdentity& identity) {
    for (unsigned attempt = 0; attempt < PLACEHOLDER_ATTEMPTS; ++attempt) {
        if (!FormatPlaceholderPath(out, path, attempt)) return false;
        FileHandle placeholder;
        if (placeholder.CreateNew(out)) return KeepIfPlain(placeholder, out, identity);
    }
    return false;
}

// A folder on the way that carries a reparse point is gone through only when
// the point leads its name nowhere else: opened through it, the folder still
// is that reparse point, and it stands where its name says. Wine marks its
// host links to folders as reparse points, then reports none once opened.
bool IsFolderInPlace(const char* folderPath) {
    FileHandle folder;
    FILE_ATTRIBUTE_TAG_INFO tag;
    DWORD volume = 0;
    return folder.OpenFolder(folderPath) &&
           GetFileInformationByHandleEx(folder.Native(), FileAttributeTagInfo, &tag, sizeof tag) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !RedirectsAName(tag.FileAttributes, tag.ReparseTag) &&
           ReachedDirectly(folder, folderPath, volume);
}

}  // namespace

void RememberFolderPaths(bool on) {
    remembered = RememberedFolder{};
    remembered.on = on;
}

bool IdentifyFile(const FileHandle& file, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.Native(), &info)) return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.indexHigh = info.nFileIndexHigh;
    identity.indexLow = info.nFileIndexLow;
    return true;
}

bool IsPlainFileAt(const FileHandle& file, const char* path) {
    FileFacts facts;
    DWORD volume = 0;
    return ReadFacts(file, facts) && InspectFacts(file, path, facts, volume);
}

bool DeleteOwnFile(const char* path, const FileIdentity& identity) {
    FileHandle file;
    FileIdentity found;
    return file.OpenToChange(path) && IdentifyFile(file, found) && SameFile(found, identity) && DeleteThrough(file);
}

bool ClearAttributesOfPlainFile(const char* path) {
    FileHandle file;
    if (!file.OpenToChange(path) || !IsPlainFileAt(file, path)) return false;
    FILE_BASIC_INFO basic = {};  // zero times are left as they are
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file.Native(), FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool PassesThroughLinkedFolder(const char* folder, const char* name) {
    for (const char* p = name; *p != '\0'; p = NextCharacter(p, IsAnsiLeadByte)) {
        if (!IsPathSeparator(*p)) continue;
        char part[MAX_PATH];
        const int length = std::snprintf(part, sizeof part, "%s\\%.*s", folder, static_cast<int>(p - name), name);
        if (length < 0 || length >= static_cast<int>(sizeof part)) return true;
        const DWORD attributes = GetFileAttributesA(part);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !IsFolderInPlace(part))) {
            return true;
        }
    }
    return false;
}

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

bool CreateFreshFile(FileHandle& file, const char* path, FileIdentity& identity) {
    if (!file.CreateNew(path) && !(RemoveName(path) && file.CreateNew(path))) return false;
    return KeepIfPlain(file, path, identity);
}
