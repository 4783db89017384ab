#pragma once
// On-disk records of the patch executable, shared by the updater and the packer.
// Every integer is little-endian u32; names are NUL-terminated within their fields.
#include <cstddef>
#include <cstdint>

constexpr uint32_t PACKAGE_OFFSET = 0x40000;
constexpr uint32_t PACKAGE_MAX_ENTRIES = 32;
constexpr size_t PACKAGE_MAGIC_SIZE = 12;
constexpr char PACKAGE_MAGIC[] = "VORMEL ARC20";  // compared over 12 bytes, no terminator

constexpr size_t LONG_NAME_SIZE = 96;
constexpr size_t SHORT_NAME_SIZE = 16;

struct PackageHeader {
    char magic[PACKAGE_MAGIC_SIZE];
    uint32_t count;
};
static_assert(sizeof(PackageHeader) == 16, "package header is 16 bytes");

struct LongIndexEntry {
    char name[LONG_NAME_SIZE];
    uint32_t offset;
    uint32_t size;
    uint8_t reserved[24];
};
static_assert(sizeof(LongIndexEntry) == 128, "long index entry is 128 bytes");

struct ShortIndexEntry {
    char name[SHORT_NAME_SIZE];
    uint32_t offset;
    uint32_t size;
    uint8_t reserved[8];
};
static_assert(sizeof(ShortIndexEntry) == 32, "short index entry is 32 bytes");

constexpr size_t HASH_VALUE_MAGIC_SIZE = 8;
constexpr char HASH_VALUE_MAGIC[] = "KHV_____";  // compared over 8 bytes, no terminator
constexpr char HASH_VALUE_LIST_NAME[] = "kvx.hvl";  // lower-cased name of the list entry
constexpr char INSTALLED_LIST_NAME[] = "KVX.hvl";   // the installed copy in the install folder
// The new installed list is written here first and then renamed over the list.
// Install names never end in ".tmp", so no game file can stand at this name, and
// one left by a killed run is known as ours and replaced by the next. It is no
// longer than the list's own name, so its path fits wherever the list's does.
constexpr char INSTALLED_LIST_SCRATCH_NAME[] = "KVX.tmp";
static_assert(sizeof INSTALLED_LIST_SCRATCH_NAME <= sizeof INSTALLED_LIST_NAME,
              "a scratch path longer than the list's would not fit where the list's does");
constexpr size_t RECORD_PATH_SIZE = 56;
constexpr size_t CHECKSUM_SIZE = 8;

struct HashValueHeader {
    char magic[HASH_VALUE_MAGIC_SIZE];
    uint32_t reserved;
    uint32_t count;
};
static_assert(sizeof(HashValueHeader) == 16, "hash-value header is 16 bytes");

struct HashValueRecord {
    char path[RECORD_PATH_SIZE];
    uint8_t checksum[CHECKSUM_SIZE];
};
static_assert(sizeof(HashValueRecord) == 64, "hash-value record is 64 bytes");
