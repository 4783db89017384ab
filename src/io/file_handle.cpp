#include "io/file_handle.h"

namespace {
constexpr DWORD OPEN_FLAGS = FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE;
}

bool FileHandle::Open(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    if (IsOpen()) return false;
    handle = CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    return IsOpen();
}

bool FileHandle::OpenRead(const char* path) {
    return Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, OPEN_FLAGS);
}

bool FileHandle::CreateWrite(const char* path) {
    return Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS, OPEN_FLAGS);
}

bool FileHandle::CreateNew(const char* path) {
    // Reading the attributes lets the creator check where the new file landed,
    // and DELETE lets it remove a file it must not keep through this very
    // handle, without opening its name again.
    return Open(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE, 0, CREATE_NEW, OPEN_FLAGS);
}

bool FileHandle::OpenToChange(const char* path) {
    return Open(path, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, OPEN_EXISTING,
                FILE_FLAG_OPEN_REPARSE_POINT);
}

bool FileHandle::OpenFolder(const char* path) {
    return Open(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                FILE_FLAG_BACKUP_SEMANTICS);
}

uint32_t FileHandle::Read(void* buffer, uint32_t length) {
    DWORD transferred = 0;
    if (!ReadFile(handle, buffer, length, &transferred, nullptr)) return 0;
    return transferred;
}

uint32_t FileHandle::Write(const void* buffer, uint32_t length) {
    DWORD transferred = 0;
    if (!WriteFile(handle, buffer, length, &transferred, nullptr)) return 0;
    return transferred;
}

bool FileHandle::Seek(uint32_t position) {
    // Positions beyond the limit are refused here, since the failure value
    // 0xFFFFFFFF would otherwise compare equal to a request for that very position.
    if (position > SEEK_LIMIT) return false;
    return SetFilePointer(handle, static_cast<LONG>(position), nullptr, FILE_BEGIN) == position;
}

uint64_t FileHandle::Size() {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size) || size.QuadPart < 0) return UNKNOWN_FILE_SIZE;
    return static_cast<uint64_t>(size.QuadPart);
}

void FileHandle::Close() {
    if (!IsOpen()) return;
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}
