#pragma once
// Owner of one Win32 file handle. Every file the updater touches goes through it.
#include <windows.h>

#include <cstdint>

#include "io/portable/seek_limit.h"

// What Size gives when the size cannot be had.
constexpr uint64_t UNKNOWN_FILE_SIZE = UINT64_MAX;

class FileHandle {
public:
    FileHandle() = default;
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Both refuse (false, nothing changed) when this object is already open.
    bool OpenRead(const char* path);
    bool CreateWrite(const char* path);
    // Like CreateWrite, but fails when anything already stands at `path`.
    bool CreateNew(const char* path);
    // Opens `path` unshared to read or change its attributes or delete it; where
    // the system allows, a link is opened as the link, not what it points to.
    bool OpenToChange(const char* path);
    // Opens a folder only to ask where it really is.
    bool OpenFolder(const char* path);

    // Bytes transferred, 0 on failure; a single system call, never completed in a loop.
    uint32_t Read(void* buffer, uint32_t length);
    uint32_t Write(const void* buffer, uint32_t length);

    // True iff the new position equals the one asked for (0..SEEK_LIMIT reachable).
    bool Seek(uint32_t position);
    // The whole size, also of files of 4 GiB and more; UNKNOWN_FILE_SIZE on failure.
    uint64_t Size();
    void Close();

    bool IsOpen() const { return handle != INVALID_HANDLE_VALUE; }
    HANDLE Native() const { return handle; }

private:
    bool Open(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);

    HANDLE handle = INVALID_HANDLE_VALUE;
};
