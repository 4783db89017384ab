#pragma once
// The hash-value list: install path and expected checksum of each file.
#include <cstdint>
#include <memory>

#include "io/file_handle.h"
#include "package/package_index.h"
#include "package/portable/package_format.h"
#include "package/portable/record_lookup.h"
#include "package/portable/update_result.h"

// An absent list and an empty one look the same: count 0.
struct HashValueList {
    uint32_t count = 0;
    std::unique_ptr<HashValueRecord[]> records;
};

// Loads the package's list from the first entry named "kvx.hvl" (any letter
// case). No such entry: UPDATE_OK with `list` absent, and every entry goes in
// unverified. Once the entry is found the list must load whole from within it:
// a failed seek, a short header, another magic, or records past the entry's
// size or the end of the file are a damaged package (UPDATE_E_CORRUPT), which
// must not switch verification off. UPDATE_E_IO when memory for the records
// cannot be had. On failure `list` stays absent.
UpdateResult LoadHashValueList(const PackageIndex& index, FileHandle& image, HashValueList& list);

struct RecordMatch {
    const char* installName;      // the record's path, or the entry's stored name
    const uint8_t* checksum;      // the record's 8 bytes, or null: install unverified
};

// The first record whose last path component equals the entry name ignoring case.
RecordMatch LookUpRecord(const HashValueList& list, const char* storedName);
