#pragma once
// Where everything of the package lies, computed the one way the updater
// reads it; the packer builds and inspects patches with the same functions.
#include <cstddef>
#include <cstdint>

#include "io/portable/seek_limit.h"
#include "package/portable/package_format.h"

// The magic compared over all 12 bytes: equal selects the 128-byte entries,
// anything else the 32-byte ones.
bool UsesLongEntries(const PackageHeader& header);
uint32_t IndexEntrySize(bool longEntries);

// Where the entries' data begin: after the header and `count` index entries.
uint32_t DataBaseOf(uint32_t count, bool longEntries);

// The data base plus an entry's offset, wrapping in 32 bits as the updater adds them.
uint32_t EntryPositionOf(uint32_t dataBase, uint32_t offset);

// Whether the updater's seek reaches `position`.
inline bool PositionReachable(uint32_t position) { return position <= SEEK_LIMIT; }

// Whether `size` bytes from `position` lie within a file of `fileSize` bytes;
// nothing is read for an empty entry, so it always does.
bool DataInFile(uint32_t position, uint32_t size, uint64_t fileSize);

// A name field holds its terminator; one that does not marks a damaged package.
bool NameTerminated(const char* field, size_t fieldSize);
