#pragma once
// The verdict the update run reaches on a package before it installs
// anything, computed from the package's bytes alone with the same layout and
// name rules the run applies. The packer's inspect reports it and its build
// refuses what would not pass; what it does not cover depends on the install
// folder (missing folders, locked or unwritable files, a full disk).
#include <cstdint>
#include <string>
#include <vector>

#include "package/portable/hash_value_bytes.h"
#include "package/portable/install_names.h"
#include "package/portable/package_format.h"
#include "package/portable/update_result.h"

// The patch file as the verdict reads it.
struct PackageReader {
    void* context = nullptr;
    uint64_t fileSize = 0;
    // Exactly `length` bytes at `position` into `buffer`; false otherwise.
    bool (*readAt)(void* context, uint64_t position, void* buffer, uint32_t length) = nullptr;
};

enum PackageFault {
    FAULT_NONE,
    FAULT_FILE_TOO_SHORT,     // the file ends before the package header is complete
    FAULT_TOO_MANY_ENTRIES,   // more than PACKAGE_MAX_ENTRIES
    FAULT_INDEX_SHORT,        // the file ends inside the index
    FAULT_NAME_UNTERMINATED,  // an index name fills its field without a terminator
    FAULT_LIST_DAMAGED,       // the list entry is found but cannot be loaded (PackageVerdict::listState)
    FAULT_OUT_OF_REACH,       // the entry's data start beyond the reach of a seek
    FAULT_INSTALL_NAME,       // the install name is refused (EntryVerdict::nameFault says why)
    FAULT_NAME_UNCREATABLE,   // the install name holds a character Windows refuses: UPDATE_E_IO
    FAULT_DATA_SHORT,         // the entry's data run past the end of the file
    FAULT_CHECKSUM,           // the data's checksum differs from the record's
};

struct EntryVerdict {
    std::string storedName;  // the name field up to its terminator (all of it without one)
    bool nameTerminated = false;
    uint32_t offset = 0;
    uint32_t size = 0;
    uint32_t position = 0;   // data base plus offset, in 32 bits, where the run seeks
    int record = -1;         // the record the run matches it with, -1 for none
    std::string installName; // the record's path, else the stored name
    bool checksummed = false;
    uint8_t checksum[CHECKSUM_SIZE] = {};  // of its data, when checksummed
    PackageFault fault = FAULT_NONE;
    InstallNameFault nameFault = NAME_ACCEPTED;
    int sameNameAs = -1;     // with NAME_DUPLICATE, the earlier entry
};

struct PackageVerdict {
    // UPDATE_OK when the run gets through every entry to its commit as far as
    // the package decides; else UPDATE_E_CORRUPT, UPDATE_E_TOO_MANY_ENTRIES or,
    // for a name no file may have, UPDATE_E_IO, with which the run ends before
    // installing anything.
    UpdateResult result = UPDATE_E_CORRUPT;
    PackageFault fault = FAULT_NONE;  // the first fault the run meets
    int faultEntry = -1;              // its entry; -1 for the header and the index
    uint64_t fileSize = 0;
    bool headerRead = false;
    PackageHeader header = {};
    bool longEntries = false;
    uint32_t dataBase = 0;
    std::vector<EntryVerdict> entries;  // filled once the index was read
    int listEntry = -1;
    ListState listState = LIST_NO_ENTRY;
    HashValueHeader listHeader = {};    // read when the list entry's header was
    std::vector<HashValueRecord> records;
};

// Judges the package entry by entry in index order, as the run meets them,
// reading every entry's data within the file for its checksum. Each entry's
// own fault is noted, also past the first, which decides the verdict.
PackageVerdict JudgePackage(const PackageReader& reader, const NameRules& rules);
