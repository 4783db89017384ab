#pragma once
// The hash-value list: install path and expected checksum of each file.
#include <cstdint>
#include <memory>

#include "io/file_handle.h"
#include "package/package_format.h"
#include "package/package_index.h"
#include "package/record_lookup.h"

// An absent list and an empty one look the same: count 0.
struct HashValueList {
    uint32_t count = 0;
    std::unique_ptr<HashValueRecord[]> records;
};

// Loads the package's list from the first entry named "kvx.hvl" (any letter case).
// A missing or damaged list leaves `list` absent and is not an error; false is
// returned only when memory for a list that fits the file cannot be had.
bool LoadHashValueList(const PackageIndex& index, FileHandle& image, HashValueList& list);

struct RecordMatch {
    const char* installName;      // the record's path, or the entry's stored name
    const uint8_t* checksum;      // the record's 8 bytes, or null: install unverified
};

// The first record whose last path component equals the entry name ignoring case.
RecordMatch LookUpRecord(const HashValueList& list, const char* storedName);
