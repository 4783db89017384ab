#include "install/list_file.h"

#include "install/install_paths.h"

namespace {

constexpr uint64_t LARGEST_LIST_SIZE = 0xFFFFFFFF;

bool IsReadOnly(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

bool WriteScratch(const char* scratchPath, const void* head, uint32_t headLength, const void* rest,
                  uint32_t restLength) {
    FileHandle scratch;
    if (!CreateFreshFile(scratch, scratchPath)) return false;
    if (scratch.Write(head, headLength) != headLength) return false;
    if (restLength > 0 && scratch.Write(rest, restLength) != restLength) return false;
    return FlushFileBuffers(scratch.Native()) != FALSE;
}

}  // namespace

bool OpenListFile(FileHandle& file, const char* path, uint32_t& size) {
    if (!file.OpenRead(path)) return false;
    LARGE_INTEGER fileSize;
    if (GetFileType(file.Native()) != FILE_TYPE_DISK || !GetFileSizeEx(file.Native(), &fileSize) ||
        fileSize.QuadPart < 0 || static_cast<uint64_t>(fileSize.QuadPart) > LARGEST_LIST_SIZE) {
        file.Close();
        return false;
    }
    size = static_cast<uint32_t>(fileSize.QuadPart);
    return true;
}

bool ReplaceListFile(const char* listPath, const char* scratchPath, const void* head, uint32_t headLength,
                     const void* rest, uint32_t restLength) {
    if (IsReadOnly(listPath)) return false;
    if (!WriteScratch(scratchPath, head, headLength, rest, restLength) ||
        !MoveFileExA(scratchPath, listPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(scratchPath);
        return false;
    }
    return true;
}
