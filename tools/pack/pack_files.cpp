#include "pack_files.h"

#include "pack_read_ahead.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

constexpr int TEMP_NAME_ATTEMPTS = 100;
constexpr uint64_t MEBIBYTE = 1u << 20;
constexpr size_t PAGE_ALIGNMENT = 4096;

#ifdef _WIN32
std::wstring Wide(const std::string& utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
    return wide;
}

// The C library's names for the few causes a new file's creation reports.
int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    default: return EIO;
    }
}

// Shared for deletion, so that the console's Ctrl+C handler, on a thread of its
// own, can remove the file while the build still writes it.
int CreateExclusive(const std::string& path) {
    const HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());
        return -1;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (descriptor < 0) CloseHandle(handle);
    return descriptor;
}

FILE* StreamOf(int descriptor) { return _fdopen(descriptor, "wb"); }
int ProcessId() { return _getpid(); }
#else
// Permissions as any newly created file gets them, subject to the umask.
constexpr mode_t NEW_FILE_MODE = 0666;

int CreateExclusive(const std::string& path) {
    return open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, NEW_FILE_MODE);
}

FILE* StreamOf(int descriptor) { return fdopen(descriptor, "wb"); }
int ProcessId() { return static_cast<int>(getpid()); }
#endif

}  // namespace

#ifdef _WIN32
void AlignedFree::operator()(uint8_t* buffer) const { _aligned_free(buffer); }

ChunkBuffer NewChunkBuffer() {
    void* buffer = _aligned_malloc(COPY_CHUNK_SIZE, PAGE_ALIGNMENT);
    if (!buffer) throw std::bad_alloc();
    return ChunkBuffer(static_cast<uint8_t*>(buffer));
}
#else
void AlignedFree::operator()(uint8_t* buffer) const { munmap(buffer, COPY_CHUNK_SIZE); }

ChunkBuffer NewChunkBuffer() {
    void* buffer = mmap(nullptr, COPY_CHUNK_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (buffer == MAP_FAILED) throw std::bad_alloc();
    return ChunkBuffer(static_cast<uint8_t*>(buffer));
}
#endif

File OpenForReading(const std::string& path) {
#ifdef _WIN32
    return File(_wfopen(Wide(path).c_str(), L"rb"));
#else
    return File(std::fopen(path.c_str(), "rb"));
#endif
}

bool StatFile(const std::string& path, uint64_t& size, bool& regular) {
#ifdef _WIN32
    struct _stat64 status;
    if (_wstat64(Wide(path).c_str(), &status) != 0) return false;
#else
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return false;
#endif
    regular = (status.st_mode & S_IFMT) == S_IFREG;
    size = static_cast<uint64_t>(status.st_size);
    return true;
}

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
#ifdef _WIN32
    HANDLE handle = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    identity.special = GetFileType(handle) != FILE_TYPE_DISK;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = identity.special || GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known) return false;
    if (identity.special) return true;
    identity.device = info.dwVolumeSerialNumber;
    identity.number = static_cast<unsigned long long>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    identity.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    identity.names = info.nNumberOfLinks;
#else
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return false;
    identity.device = static_cast<unsigned long long>(status.st_dev);
    identity.number = static_cast<unsigned long long>(status.st_ino);
    identity.folder = S_ISDIR(status.st_mode);
    identity.special = !S_ISDIR(status.st_mode) && !S_ISREG(status.st_mode);
    identity.names = static_cast<unsigned long>(status.st_nlink);
#endif
    return true;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.number == b.number;
}

bool FileIsFolder(const std::string& path) {
    FileIdentity identity;
    return IdentifyFile(path, identity) && identity.folder;
}

std::string NotAFileBecause(const std::string& path) {
    FileIdentity identity;
    if (IdentifyFile(path, identity) && identity.folder) return ": is a folder";
    if (identity.special) return ": is a device, a pipe or a socket, not a file";
    return ": not a readable file";
}

SmallFile ReadSmallFile(const std::string& path, uint64_t limit, ByteVector& bytes, uint64_t& size) {
    bool regular = false;
    if (!StatFile(path, size, regular) || !regular) return SmallFile::NOT_A_FILE;
    if (size > limit) return SmallFile::TOO_LARGE;
    bytes.resize(static_cast<size_t>(size));
    File file = OpenForReading(path);
    if (!file || (!bytes.empty() && std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())) {
        return SmallFile::UNREADABLE;
    }
    return SmallFile::READ;
}

bool IsLink(const std::string& path) {
#ifdef _WIN32
    // As the updater takes them: a reparse point leads elsewhere unless its tag
    // says it does not (compressed, cloud and deduplicated files are what they
    // seem). Wine's host links carry no tag at all.
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(Wide(path).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (found.dwReserved0 == 0 || IsReparseTagNameSurrogate(found.dwReserved0));
#else
    struct stat status;
    return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
#endif
}

bool HasOtherNames(const std::string& path) {
    FileIdentity identity;
    return IdentifyFile(path, identity) && identity.names > 1;
}

bool SeekTo(FILE* file, uint64_t position) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(position), SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
}

File CreateTempBeside(const std::string& target, std::string& tempPath) {
    for (int attempt = 0; attempt < TEMP_NAME_ATTEMPTS; ++attempt) {
        tempPath = target + "." + std::to_string(ProcessId()) + "-" + std::to_string(attempt) + ".tmp";
        const int descriptor = CreateExclusive(tempPath);
        if (descriptor < 0) {
            if (errno == EEXIST) continue;
            break;
        }
        FILE* stream = StreamOf(descriptor);
        if (stream) return File(stream);
#ifdef _WIN32
        _close(descriptor);
#else
        close(descriptor);
#endif
        RemoveFile(tempPath);
        break;
    }
    tempPath.clear();
    return File();
}

bool MoveOnto(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

void RemoveFile(const std::string& path) {
#ifdef _WIN32
    DeleteFileW(Wide(path).c_str());
#else
    unlink(path.c_str());
#endif
}

bool ChecksumFile(const std::string& path, uint8_t checksum[8], std::string& error) {
    if (FileIsFolder(path)) {
        error = path + ": is a folder";
        return false;
    }
    File file = OpenForReading(path);
    if (!file) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    RunningChecksum state{};
    int readError = 0;
    const auto feed = [&](const uint8_t* chunk, size_t size) {
        Update(state, chunk, size);
        return true;
    };
    if (ForEachChunk(file.get(), nullptr, feed, readError) != ChunkWalk::DONE) {
        error = path + ": read failed: " + std::strerror(readError);
        return false;
    }
    StoreChecksum(state, checksum);
    return true;
}

std::string HexBytes(const uint8_t* bytes, size_t size) {
    std::string hex;
    char pair[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        hex += pair;
    }
    return hex;
}

std::string ChecksumHex(const uint8_t checksum[8]) { return HexBytes(checksum, 8); }

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

void AdvanceProgress(Progress& progress, uint64_t bytes) {
    progress.done += bytes;
    if (!progress.enabled || progress.total == 0) return;
    const int percent = static_cast<int>(progress.done * 100 / progress.total);
    if (percent == progress.shownPercent) return;
    progress.shownPercent = percent;
    std::fprintf(stderr, "\rsundrift-pack: %3d%% (%llu of %llu MiB)", percent,
                 static_cast<unsigned long long>(progress.done / MEBIBYTE),
                 static_cast<unsigned long long>(progress.total / MEBIBYTE));
    std::fflush(stderr);
}

void EndProgress(Progress& progress) {
    if (progress.enabled && progress.shownPercent >= 0) std::fputc('\n', stderr);
    progress.shownPercent = -1;
}
