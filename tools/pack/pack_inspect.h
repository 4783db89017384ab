#pragma once
// Reading a patch back the way the updater reads it, with every check it makes.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "pack_signature.h"
#include "package/package_format.h"

struct InspectedEntry {
    std::string name;  // stored bytes up to the terminator (the whole field without one)
    bool terminated = false;
    uint32_t offset = 0;
    uint32_t size = 0;
    uint32_t position = 0;  // dataBase + offset in 32 bits, as the updater seeks
    bool inFile = false;    // its data lie within the file and within seek range
    bool checksummed = false;
    uint8_t computed[CHECKSUM_SIZE] = {};
    int record = -1;  // the record the updater matches it with
};

struct Inspection {
    uint64_t fileSize = 0;
    bool headerRead = false;
    std::string magic;  // the 12 bytes
    uint32_t count = 0;
    bool longEntries = false;
    uint32_t dataBase = 0;
    std::vector<InspectedEntry> entries;

    int listEntry = -1;    // the entry the updater loads the list from
    bool listLoaded = false;
    std::string listNote;  // why the list counts as absent
    uint32_t listReserved = 0;
    std::vector<HashValueRecord> records;

    // Reasons the updater would reject the patch or fail a checksum; none: accepted.
    std::vector<std::string> problems;
    // What the updater takes but a publisher would not want.
    std::vector<std::string> warnings;

    bool peHeaders = false;  // the file starts with a program's headers
    CertificateTable signature;
    uint64_t dataEnd = 0;  // where the last entry's data end
};

// False only when the file cannot be opened or measured.
bool InspectPatch(const std::string& path, Inspection& inspection, std::string& error);

void PrintInspection(const Inspection& inspection, bool json, FILE* out);
