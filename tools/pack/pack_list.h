#pragma once
// The hash-value list as the packer reads, merges and writes it, and the
// record lookup as the updater performs it.
#include <cstdint>
#include <string>
#include <vector>

#include "pack_files.h"
#include "package/portable/hash_value_bytes.h"

// The record's path up to its terminator, or all 56 bytes when it has none.
std::string RecordPath(const HashValueRecord& record);

// A record holding `sjisPath` (at most 55 bytes) and a zero checksum.
HashValueRecord MakeRecord(const std::string& sjisPath);

// Parses a whole list file: its header (the magic tested or not, as the
// updater reads that list), then `count` records; bytes after the last record
// are counted in `trailing` (the updater's rewrite drops them). False, with the
// reason in `why` to follow the file's name, when the list is short or damaged.
bool ParseList(const ByteVector& bytes, MagicTest magic, HashValueHeader& header,
               std::vector<HashValueRecord>& records, size_t& trailing, std::string& why);

ByteVector ListBytes(uint32_t reserved, const std::vector<HashValueRecord>& records);

// The comparison key of a name: its last component, lower-cased as the updater does.
bool ComponentKey(const std::string& sjis, std::u32string& key);

// FindRecordIndex under code page 932: the record the updater matches with
// the entry name, or -1.
int FindRecord(const std::vector<HashValueRecord>& records, const std::string& entryName);

// The first record whose whole path names the same file as `sjisPath`, as the
// updater compares install names, or -1.
int FindPathRecord(const std::vector<HashValueRecord>& records, const std::string& sjisPath);
