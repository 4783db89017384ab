#include "io/file_handle.h"

namespace {
constexpr DWORD OPEN_FLAGS = FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE;
constexpr uint32_t MAX_SEEK_POSITION = 0x7FFFFFFF;
}

bool FileHandle::Open(const char* path, DWORD access, DWORD share, DWORD disposition) {
    if (IsOpen()) return false;
    handle = CreateFileA(path, access, share, nullptr, disposition, OPEN_FLAGS, nullptr);
    return IsOpen();
}

bool FileHandle::OpenRead(const char* path) {
    return Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

bool FileHandle::CreateWrite(const char* path) {
    return Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
}

bool FileHandle::CreateNew(const char* path) {
    return Open(path, GENERIC_WRITE, 0, CREATE_NEW);
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
    // The distance is signed and has no high part, so 0x80000000 and above are out
    // of reach; refused here, since the failure value 0xFFFFFFFF would otherwise
    // compare equal to a request for that very position.
    if (position > MAX_SEEK_POSITION) return false;
    return SetFilePointer(handle, static_cast<LONG>(position), nullptr, FILE_BEGIN) == position;
}

uint32_t FileHandle::Size() {
    return GetFileSize(handle, nullptr);
}

void FileHandle::Close() {
    if (!IsOpen()) return;
    CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}
