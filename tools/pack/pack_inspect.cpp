#include "pack_inspect.h"

#include <cstring>

#include "pack_build.h"
#include "pack_files.h"
#include "pack_list.h"
#include "pack_text.h"
#include "package/running_checksum.h"

namespace {

constexpr uint32_t SEEK_LIMIT = 0x7FFFFFFF;

bool ReadAt(FILE* file, uint64_t position, void* buffer, size_t size) {
    return SeekTo(file, position) && (size == 0 || std::fread(buffer, 1, size, file) == size);
}

template <typename Entry>
bool ReadEntries(FILE* file, Inspection& inspection) {
    std::vector<Entry> entries(inspection.count);
    if (!ReadAt(file, PACKAGE_OFFSET + sizeof(PackageHeader), entries.data(), entries.size() * sizeof(Entry))) {
        return false;
    }
    for (const Entry& stored : entries) {
        InspectedEntry entry;
        const void* end = std::memchr(stored.name, 0, sizeof stored.name);
        entry.terminated = end != nullptr;
        entry.name.assign(stored.name, end ? static_cast<const char*>(end) - stored.name : sizeof stored.name);
        entry.offset = stored.offset;
        entry.size = stored.size;
        inspection.entries.push_back(entry);
    }
    return true;
}

// The header and index, rejected where the updater rejects them.
bool ReadIndex(FILE* file, Inspection& inspection) {
    if (inspection.fileSize < PACKAGE_OFFSET + sizeof(PackageHeader)) {
        inspection.problems.push_back("the file ends before the package header at 0x40000");
        return false;
    }
    PackageHeader header;
    if (!ReadAt(file, PACKAGE_OFFSET, &header, sizeof header)) {
        inspection.problems.push_back("the package header cannot be read");
        return false;
    }
    inspection.headerRead = true;
    inspection.magic.assign(header.magic, PACKAGE_MAGIC_SIZE);
    inspection.count = header.count;
    if (header.count > PACKAGE_MAX_ENTRIES) {
        inspection.problems.push_back(std::to_string(header.count) + " entries, more than " +
                                      std::to_string(PACKAGE_MAX_ENTRIES));
        return false;
    }
    inspection.longEntries = std::memcmp(header.magic, PACKAGE_MAGIC, PACKAGE_MAGIC_SIZE) == 0;
    const uint32_t entrySize = inspection.longEntries ? sizeof(LongIndexEntry) : sizeof(ShortIndexEntry);
    inspection.dataBase = PACKAGE_OFFSET + sizeof(PackageHeader) + header.count * entrySize;
    const bool read = inspection.longEntries ? ReadEntries<LongIndexEntry>(file, inspection)
                                             : ReadEntries<ShortIndexEntry>(file, inspection);
    if (!read) {
        inspection.problems.push_back("the index is cut short by the end of the file");
        return false;
    }
    for (size_t j = 0; j < inspection.entries.size(); ++j) {
        if (!inspection.entries[j].terminated) {
            inspection.problems.push_back("entry " + std::to_string(j) + " has a name without terminator");
        }
    }
    return inspection.problems.empty();
}

void PlaceEntries(Inspection& inspection) {
    for (size_t j = 0; j < inspection.entries.size(); ++j) {
        InspectedEntry& entry = inspection.entries[j];
        entry.position = inspection.dataBase + entry.offset;
        const uint64_t end = uint64_t{entry.position} + entry.size;
        entry.inFile = entry.position <= SEEK_LIMIT && end <= inspection.fileSize;
        if (!entry.inFile) {
            inspection.problems.push_back("entry " + std::to_string(j) + " " + DisplayName(entry.name) +
                                          ": its data run past the end of the file");
        }
    }
}

int FindListEntry(const Inspection& inspection) {
    std::u32string listKey;
    FoldedKey(HASH_VALUE_LIST_NAME, listKey);
    for (size_t j = 0; j < inspection.entries.size(); ++j) {
        std::u32string key;
        if (FoldedKey(inspection.entries[j].name, key) && key == listKey) return static_cast<int>(j);
    }
    return -1;
}

// Loads the list as the updater does: the records follow the header for as
// many as its count says, whatever the entry's size.
void LoadList(FILE* file, Inspection& inspection) {
    inspection.listEntry = FindListEntry(inspection);
    if (inspection.listEntry < 0) {
        inspection.listNote = "no entry named \"kvx.hvl\" in any letter case";
        return;
    }
    const uint32_t position = inspection.entries[inspection.listEntry].position;
    HashValueHeader header;
    if (position > SEEK_LIMIT || !ReadAt(file, position, &header, sizeof header)) {
        inspection.listNote = "its header cannot be read";
        return;
    }
    if (std::memcmp(header.magic, HASH_VALUE_MAGIC, HASH_VALUE_MAGIC_SIZE) != 0) {
        inspection.listNote = "its magic is not \"KHV_____\"";
        return;
    }
    const uint64_t bytes = uint64_t{header.count} * sizeof(HashValueRecord);
    if (position + sizeof header + bytes > inspection.fileSize) {
        inspection.listNote = "its " + std::to_string(header.count) + " records run past the end of the file";
        return;
    }
    std::vector<HashValueRecord> records(header.count);
    if (!ReadAt(file, position + sizeof header, records.data(), static_cast<size_t>(bytes))) {
        inspection.listNote = "its records cannot be read";
        return;
    }
    inspection.listLoaded = true;
    inspection.listReserved = header.reserved;
    inspection.records = std::move(records);
}

bool ChecksumRange(FILE* file, uint32_t position, uint32_t size, uint8_t checksum[CHECKSUM_SIZE]) {
    if (!SeekTo(file, position)) return false;
    std::vector<uint8_t> buffer(size < PACK_CHUNK_SIZE ? size : PACK_CHUNK_SIZE);
    RunningChecksum state{};
    for (uint32_t left = size; left > 0;) {
        const size_t chunk = left < buffer.size() ? left : buffer.size();
        if (std::fread(buffer.data(), 1, chunk, file) != chunk) return false;
        Update(state, buffer.data(), chunk);
        left -= static_cast<uint32_t>(chunk);
    }
    StoreChecksum(state, checksum);
    return true;
}

void VerifyEntries(FILE* file, Inspection& inspection) {
    for (size_t j = 0; j < inspection.entries.size(); ++j) {
        InspectedEntry& entry = inspection.entries[j];
        entry.record = FindRecord(inspection.records, entry.name);
        if (!entry.inFile) continue;
        entry.checksummed = ChecksumRange(file, entry.position, entry.size, entry.computed);
        if (!entry.checksummed) {
            inspection.problems.push_back("entry " + std::to_string(j) + ": its data cannot be read");
            continue;
        }
        if (entry.record >= 0 &&
            std::memcmp(entry.computed, inspection.records[entry.record].checksum, CHECKSUM_SIZE) != 0) {
            inspection.problems.push_back("entry " + std::to_string(j) + " " + DisplayName(entry.name) +
                                          ": checksum " + ChecksumHex(entry.computed) + " differs from " +
                                          ChecksumHex(inspection.records[entry.record].checksum));
        }
    }
}

// The signature must be the last thing in the file and cover the whole
// package; anything else after the last entry is not the patch as built.
void CheckSignature(FILE* file, Inspection& inspection) {
    inspection.dataEnd = inspection.dataBase;
    for (const InspectedEntry& entry : inspection.entries) {
        if (entry.inFile && uint64_t{entry.position} + entry.size > inspection.dataEnd) {
            inspection.dataEnd = uint64_t{entry.position} + entry.size;
        }
    }
    inspection.peHeaders = ReadCertificateTable(file, inspection.signature);
    const CertificateTable& table = inspection.signature;
    const uint64_t tableEnd = uint64_t{table.offset} + table.size;
    if (!table.present) {
        if (inspection.fileSize > inspection.dataEnd) {
            inspection.warnings.push_back(std::to_string(inspection.fileSize - inspection.dataEnd) +
                                          " bytes after the last entry that are not a signature");
        }
        return;
    }
    if (table.offset < inspection.dataEnd) {
        inspection.warnings.push_back("the signature starts at " + std::to_string(table.offset) +
                                      ", inside the package, which ends at " + std::to_string(inspection.dataEnd));
    } else if (table.offset - inspection.dataEnd >= CERTIFICATE_ALIGNMENT) {
        inspection.warnings.push_back(std::to_string(table.offset - inspection.dataEnd) +
                                      " bytes between the last entry and the signature");
    }
    if (tableEnd != inspection.fileSize) {
        inspection.warnings.push_back(tableEnd > inspection.fileSize
                                          ? "the signature runs past the end of the file"
                                          : std::to_string(inspection.fileSize - tableEnd) +
                                                " bytes after the signature, which it does not cover");
    }
}

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

bool SignatureIsLast(const Inspection& in) {
    return uint64_t{in.signature.offset} + in.signature.size == in.fileSize;
}

const char* LayoutName(const Inspection& inspection) {
    return inspection.longEntries ? "long (128-byte entries)" : "short (32-byte entries)";
}

std::string EntryChecksumJson(const Inspection& inspection, const InspectedEntry& entry) {
    std::string out = "\"computed\": " + (entry.checksummed ? JsonString(ChecksumHex(entry.computed)) : "null");
    out += ", \"expected\": ";
    out += entry.record >= 0 ? JsonString(ChecksumHex(inspection.records[entry.record].checksum)) : "null";
    return out;
}

void PrintJson(const Inspection& in, FILE* out) {
    std::fprintf(out, "{\n  \"fileSize\": %llu,\n", static_cast<unsigned long long>(in.fileSize));
    if (in.headerRead) {
        std::fprintf(out, "  \"magic\": %s,\n  \"count\": %u,\n  \"layout\": \"%s\",\n  \"dataBase\": %u,\n",
                     JsonString(DisplayName(in.magic)).c_str(), in.count, in.longEntries ? "long" : "short",
                     in.dataBase);
    }
    std::fprintf(out, "  \"entries\": [");
    for (size_t j = 0; j < in.entries.size(); ++j) {
        const InspectedEntry& e = in.entries[j];
        std::fprintf(out, "%s\n    {\"name\": %s, \"offset\": %u, \"size\": %u, \"position\": %u, \"record\": %d, %s}",
                     j ? "," : "", JsonString(DisplayName(e.name)).c_str(), e.offset, e.size, e.position, e.record,
                     EntryChecksumJson(in, e).c_str());
    }
    std::fprintf(out, "\n  ],\n  \"list\": {\"entry\": %d, \"loaded\": %s, \"note\": %s, \"reserved\": %u, \"records\": [",
                 in.listEntry, in.listLoaded ? "true" : "false", JsonString(in.listNote).c_str(), in.listReserved);
    for (size_t i = 0; i < in.records.size(); ++i) {
        std::fprintf(out, "%s\n    {\"path\": %s, \"terminated\": %s, \"checksum\": %s}", i ? "," : "",
                     JsonString(DisplayName(RecordPath(in.records[i]))).c_str(),
                     RecordTerminated(in.records[i]) ? "true" : "false",
                     JsonString(ChecksumHex(in.records[i].checksum)).c_str());
    }
    std::fprintf(out, "\n  ]},\n  \"signature\": ");
    if (in.signature.present) {
        std::fprintf(out, "{\"offset\": %u, \"size\": %u, \"last\": %s, \"afterEntries\": %s}", in.signature.offset,
                     in.signature.size, SignatureIsLast(in) ? "true" : "false",
                     in.signature.offset >= in.dataEnd ? "true" : "false");
    } else {
        std::fprintf(out, "null");
    }
    std::fprintf(out, ",\n  \"warnings\": [");
    for (size_t i = 0; i < in.warnings.size(); ++i) {
        std::fprintf(out, "%s\n    %s", i ? "," : "", JsonString(in.warnings[i]).c_str());
    }
    std::fprintf(out, "\n  ],\n  \"problems\": [");
    for (size_t i = 0; i < in.problems.size(); ++i) {
        std::fprintf(out, "%s\n    %s", i ? "," : "", JsonString(in.problems[i]).c_str());
    }
    std::fprintf(out, "\n  ],\n  \"accepted\": %s\n}\n", in.problems.empty() ? "true" : "false");
}

void PrintText(const Inspection& in, FILE* out) {
    std::fprintf(out, "file size  %llu bytes\n", static_cast<unsigned long long>(in.fileSize));
    if (in.headerRead) {
        std::fprintf(out, "header     magic \"%s\", count %u, layout %s, dataBase %s\n", DisplayName(in.magic).c_str(),
                     in.count, LayoutName(in), Hex32(in.dataBase).c_str());
    }
    for (size_t j = 0; j < in.entries.size(); ++j) {
        const InspectedEntry& e = in.entries[j];
        std::fprintf(out, "entry %2zu   %-24s offset %s size %10u at %s\n", j, DisplayName(e.name).c_str(),
                     Hex32(e.offset).c_str(), e.size, Hex32(e.position).c_str());
    }
    if (in.listLoaded) {
        std::fprintf(out, "list       entry %d, reserved %u, %zu records\n", in.listEntry, in.listReserved,
                     in.records.size());
    } else if (in.headerRead) {
        std::fprintf(out, "list       absent: %s\n", in.listNote.c_str());
    }
    for (size_t i = 0; i < in.records.size(); ++i) {
        std::fprintf(out, "record %2zu  %-40s %s%s\n", i, DisplayName(RecordPath(in.records[i])).c_str(),
                     ChecksumHex(in.records[i].checksum).c_str(),
                     RecordTerminated(in.records[i]) ? "" : "  (path without terminator: never matches)");
    }
    for (size_t j = 0; j < in.entries.size(); ++j) {
        const InspectedEntry& e = in.entries[j];
        const std::string computed = e.checksummed ? ChecksumHex(e.computed) : "unread";
        if (e.record < 0) {
            std::fprintf(out, "check %2zu   %-24s no record: installed unverified, computed %s\n", j,
                         DisplayName(e.name).c_str(), computed.c_str());
            continue;
        }
        const HashValueRecord& r = in.records[e.record];
        const bool equal = e.checksummed && std::memcmp(e.computed, r.checksum, CHECKSUM_SIZE) == 0;
        std::fprintf(out, "check %2zu   %-24s record %d (%s), computed %s, expected %s: %s\n", j,
                     DisplayName(e.name).c_str(), e.record, DisplayName(RecordPath(r)).c_str(), computed.c_str(),
                     ChecksumHex(r.checksum).c_str(), equal ? "ok" : "DIFFERS");
    }
    if (in.signature.present) {
        std::fprintf(out, "signature  certificate table at %s, %u bytes%s\n", Hex32(in.signature.offset).c_str(),
                     in.signature.size, SignatureIsLast(in) && in.signature.offset >= in.dataEnd
                                            ? ", after the last entry and last in the file"
                                            : "");
    } else if (in.peHeaders) {
        std::fprintf(out, "signature  none: Windows names the publisher \"Unknown publisher\"\n");
    }
    for (const std::string& warning : in.warnings) std::fprintf(out, "warning:   %s\n", warning.c_str());
    for (const std::string& problem : in.problems) std::fprintf(out, "problem    %s\n", problem.c_str());
    std::fprintf(out, "%s\n", in.problems.empty() ? "accepted" : "REJECTED");
}

}  // namespace

bool InspectPatch(const std::string& path, Inspection& inspection, std::string& error) {
    inspection = Inspection{};
    bool regular = false;
    File file = OpenForReading(path);
    if (!file || !StatFile(path, inspection.fileSize, regular) || !regular) {
        error = "\"" + path + "\": not a readable file";
        return false;
    }
    if (!ReadIndex(file.get(), inspection)) return true;
    PlaceEntries(inspection);
    LoadList(file.get(), inspection);
    VerifyEntries(file.get(), inspection);
    CheckSignature(file.get(), inspection);
    return true;
}

void PrintInspection(const Inspection& inspection, bool json, FILE* out) {
    if (json) {
        PrintJson(inspection, out);
    } else {
        PrintText(inspection, out);
    }
}
