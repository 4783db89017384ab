#pragma once
// The index of the package appended to the updater at PACKAGE_OFFSET.
#include <cstdint>
#include <memory>

#include "io/file_handle.h"
#include "package/portable/package_format.h"
#include "package/portable/update_result.h"

struct PackageIndex {
    bool longEntries = false;
    uint32_t count = 0;
    // Only the array of the layout in force exists.
    std::unique_ptr<LongIndexEntry[]> longEntryArray;
    std::unique_ptr<ShortIndexEntry[]> shortEntryArray;
    uint32_t dataBase = 0;
};

// Opens the running executable through `image` (passed closed) and reads its index.
// UPDATE_OK leaves `image` open and `index` filled; any other result leaves the index empty.
UpdateResult LoadPackageIndex(FileHandle& image, PackageIndex& index);

// The same for a file named by the caller (tests, the packer's checks).
UpdateResult LoadPackageIndexFromFile(const char* path, FileHandle& image, PackageIndex& index);

// dataBase + entry j's offset, wrapping in 32 bits (EntryPositionOf).
uint32_t EntryPosition(const PackageIndex& index, uint32_t j);

const char* EntryName(const PackageIndex& index, uint32_t j);
uint32_t EntrySize(const PackageIndex& index, uint32_t j);
uint32_t EntryOffset(const PackageIndex& index, uint32_t j);
