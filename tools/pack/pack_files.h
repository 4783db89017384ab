#pragma once
// Files for the packer on both platforms. Paths are UTF-8 everywhere; on
// Windows they are opened through the wide calls.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "io/portable/chunk_size.h"
#include "package/portable/running_checksum.h"

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

using ByteVector = std::vector<uint8_t>;

// A page-aligned buffer of COPY_CHUNK_SIZE bytes: reads into a buffer that
// starts off a page boundary are much slower. On Linux its pages are made
// present at once (MAP_POPULATE), sparing a fault per page during the first
// reads (docs/performance.md has the figures).
struct AlignedFree {
    void operator()(uint8_t* buffer) const;
};
using ChunkBuffer = std::unique_ptr<uint8_t[], AlignedFree>;
// Throws std::bad_alloc when memory is short, as any allocation does.
ChunkBuffer NewChunkBuffer();

File OpenForReading(const std::string& path);

// False when `path` cannot be examined; `regular` tells a plain file from
// folders and devices.
bool StatFile(const std::string& path, uint64_t& size, bool& regular);
bool FileIsFolder(const std::string& path);

// Why `path` is no file to read, for a message after the name: ": is a
// folder", ": is a device, a pipe or a socket, not a file" or ": not a readable file".
std::string NotAFileBecause(const std::string& path);

// Reads the whole of a plain file of at most `limit` bytes; its size is given
// also when it is too large.
enum class SmallFile { READ, NOT_A_FILE, TOO_LARGE, UNREADABLE };
SmallFile ReadSmallFile(const std::string& path, uint64_t limit, ByteVector& bytes, uint64_t& size);

// Which file a path names: the same device and number means the same file,
// whatever the path (links and "./" included).
struct FileIdentity {
    unsigned long long device = 0;
    unsigned long long number = 0;
    bool folder = false;
    bool special = false;  // a device, a pipe or a socket: neither file nor folder
    unsigned long names = 1;  // how many names the file has (hard links)
};
bool IdentifyFile(const std::string& path, FileIdentity& identity);
bool SameFile(const FileIdentity& a, const FileIdentity& b);

// What the updater refuses to go through: a name that is a link itself
// (a symbolic link, or on Windows a reparse point that leads elsewhere), and a
// file with more than one name.
bool IsLink(const std::string& path);
bool HasOtherNames(const std::string& path);

bool SeekTo(FILE* file, uint64_t position);

// A new file beside `target`, named after it, that did not exist before.
File CreateTempBeside(const std::string& target, std::string& tempPath);

// Moves `from` onto `to`, replacing what stood there.
bool MoveOnto(const std::string& from, const std::string& to);
void RemoveFile(const std::string& path);

// Runs the whole file through the checksum, reading ahead on a second thread.
// False, with the cause in `error`, on failure.
bool ChecksumFile(const std::string& path, uint8_t checksum[8], std::string& error);

// Two lower-case hex digits per byte, in the bytes' order (as sha256sum prints).
std::string HexBytes(const uint8_t* bytes, size_t size);
// Sixteen hex digits of the stored byte order.
std::string ChecksumHex(const uint8_t checksum[8]);

// A one-line progress report on stderr, used only when stderr is a terminal.
struct Progress {
    bool enabled = false;
    uint64_t total = 0;
    uint64_t done = 0;
    int shownPercent = -1;
};
bool StderrIsTerminal();
void AdvanceProgress(Progress& progress, uint64_t bytes);
void EndProgress(Progress& progress);
