#include "install/list_file.h"

#include "install/install_paths.h"
#include "install/link_guard.h"

namespace {

// CREATE_ALWAYS with FILE_ATTRIBUTE_ARCHIVE refuses such a file, and a rename
// over it would drop the attributes the user gave it.
bool RefusesReCreation(const char* path) {
    constexpr DWORD REFUSED = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & REFUSED);
}

bool WriteAndFlush(FileHandle& file, const void* head, uint32_t headLength, const void* rest,
                   uint32_t restLength) {
    if (file.Write(head, headLength) != headLength) return false;
    if (restLength > 0 && file.Write(rest, restLength) != restLength) return false;
    return FlushFileBuffers(file.Native()) != FALSE;
}

}  // namespace

bool OpenListFile(FileHandle& file, const char* path, uint32_t& size) {
    if (!file.OpenRead(path)) return false;
    LARGE_INTEGER fileSize;
    if (!IsPlainFileAt(file, path) || !GetFileSizeEx(file.Native(), &fileSize) || fileSize.QuadPart < 0 ||
        fileSize.QuadPart > LARGEST_LIST_SIZE) {
        file.Close();
        return false;
    }
    size = static_cast<uint32_t>(fileSize.QuadPart);
    return true;
}

bool ReplaceListFile(const char* listPath, const char* scratchPath, const void* head, uint32_t headLength,
                     const void* rest, uint32_t restLength) {
    if (RefusesReCreation(listPath)) return false;
    FileHandle scratch;
    FileIdentity scratchIdentity;
    if (!CreateFreshFile(scratch, scratchPath, scratchIdentity)) return false;
    const bool written = WriteAndFlush(scratch, head, headLength, rest, restLength);
    scratch.Close();
    if (written && MoveFileExA(scratchPath, listPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DeleteOwnFile(scratchPath, scratchIdentity);
    return false;
}
