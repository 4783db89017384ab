#include "package/portable/package_verdict.h"

#include <cstring>

#include "io/portable/chunk_size.h"
#include "package/portable/package_layout.h"
#include "package/portable/record_lookup.h"
#include "package/portable/running_checksum.h"

namespace {

bool ReadAt(const PackageReader& reader, uint64_t position, void* buffer, uint32_t length) {
    if (position > reader.fileSize || length > reader.fileSize - position) return false;
    return length == 0 || reader.readAt(reader.context, position, buffer, length);
}

template <typename Entry>
bool ReadIndexEntries(const PackageReader& reader, PackageVerdict& verdict) {
    std::vector<Entry> stored(verdict.header.count);
    const uint32_t bytes = verdict.header.count * static_cast<uint32_t>(sizeof(Entry));
    if (!ReadAt(reader, PACKAGE_OFFSET + sizeof(PackageHeader), stored.data(), bytes)) return false;
    for (const Entry& entry : stored) {
        EntryVerdict judged;
        judged.nameTerminated = NameTerminated(entry.name, sizeof entry.name);
        judged.storedName.assign(entry.name, judged.nameTerminated ? std::strlen(entry.name) : sizeof entry.name);
        judged.offset = entry.offset;
        judged.size = entry.size;
        judged.position = EntryPositionOf(verdict.dataBase, entry.offset);
        verdict.entries.push_back(judged);
    }
    return true;
}

// The header and the index, refused where LoadPackageIndex refuses them.
PackageFault ReadHeaderAndIndex(const PackageReader& reader, PackageVerdict& verdict) {
    if (reader.fileSize < PACKAGE_OFFSET || !ReadAt(reader, PACKAGE_OFFSET, &verdict.header, sizeof verdict.header)) {
        return FAULT_FILE_TOO_SHORT;
    }
    verdict.headerRead = true;
    if (verdict.header.count > PACKAGE_MAX_ENTRIES) return FAULT_TOO_MANY_ENTRIES;
    verdict.longEntries = UsesLongEntries(verdict.header);
    verdict.dataBase = DataBaseOf(verdict.header.count, verdict.longEntries);
    const bool read = verdict.longEntries ? ReadIndexEntries<LongIndexEntry>(reader, verdict)
                                          : ReadIndexEntries<ShortIndexEntry>(reader, verdict);
    if (!read) return FAULT_INDEX_SHORT;
    for (size_t j = 0; j < verdict.entries.size(); ++j) {
        if (!verdict.entries[j].nameTerminated) {
            verdict.faultEntry = static_cast<int>(j);
            return FAULT_NAME_UNTERMINATED;
        }
    }
    return FAULT_NONE;
}

// As LoadHashValueList loads it: from the first entry of the list's name, the
// header and as many records as it counts, all within the entry and the file.
ListState LoadList(const PackageReader& reader, const NameRules& rules, PackageVerdict& verdict) {
    for (size_t j = 0; j < verdict.entries.size() && verdict.listEntry < 0; ++j) {
        if (IsListEntryName(verdict.entries[j].storedName.c_str(), rules)) verdict.listEntry = static_cast<int>(j);
    }
    if (verdict.listEntry < 0) return LIST_NO_ENTRY;
    const EntryVerdict& entry = verdict.entries[verdict.listEntry];
    if (!PositionReachable(entry.position)) return LIST_OUT_OF_REACH;
    uint8_t head[sizeof(HashValueHeader)];
    const uint64_t available = reader.fileSize > entry.position ? reader.fileSize - entry.position : 0;
    const uint32_t headSize = available < sizeof head ? static_cast<uint32_t>(available) : sizeof head;
    if (!ReadAt(reader, entry.position, head, headSize)) return LIST_HEADER_SHORT;
    const ListState state = ReadListHeader(head, available, entry.size, MAGIC_TESTED, verdict.listHeader);
    if (state != LIST_LOADED) return state;
    const uint32_t count = verdict.listHeader.count;
    std::vector<HashValueRecord> records(count);
    if (!ReadAt(reader, uint64_t{entry.position} + sizeof(HashValueHeader), records.data(),
                RecordBytes(count))) {
        return LIST_RECORDS_PAST_END;
    }
    verdict.records = std::move(records);
    return LIST_LOADED;
}

bool ChecksumData(const PackageReader& reader, const EntryVerdict& entry, uint8_t out[CHECKSUM_SIZE]) {
    std::vector<uint8_t> buffer(entry.size < COPY_CHUNK_SIZE ? entry.size : COPY_CHUNK_SIZE);
    uint32_t done = 0;
    auto readChunk = [&](uint8_t* chunk, size_t capacity, size_t& got) {
        got = entry.size - done < capacity ? entry.size - done : capacity;
        if (got == 0) return true;  // nothing is read of what is done, an empty entry included
        if (!ReadAt(reader, uint64_t{entry.position} + done, chunk, static_cast<uint32_t>(got))) return false;
        done += static_cast<uint32_t>(got);
        return true;
    };
    return ChecksumChunks(readChunk, buffer.data(), buffer.size(), out);
}

// In the run's order: the seek, the name, the data, the checksum.
PackageFault JudgeEntry(const PackageReader& reader, const NameRules& rules, PackageVerdict& verdict, size_t j) {
    EntryVerdict& entry = verdict.entries[j];
    entry.record = FindRecordIndex(verdict.records.data(), static_cast<uint32_t>(verdict.records.size()),
                                   entry.storedName.c_str(), rules);
    entry.installName = entry.record >= 0 ? verdict.records[entry.record].path : entry.storedName;
    const bool inFile = PositionReachable(entry.position) && DataInFile(entry.position, entry.size, reader.fileSize);
    entry.checksummed = inFile && ChecksumData(reader, entry, entry.checksum);
    if (!PositionReachable(entry.position)) return FAULT_OUT_OF_REACH;
    std::vector<const char*> earlier;
    for (size_t k = 0; k < j; ++k) earlier.push_back(verdict.entries[k].installName.c_str());
    entry.nameFault = JudgeInstallName(entry.installName.c_str(), earlier.data(), j, rules, entry.sameNameAs);
    if (entry.nameFault != NAME_ACCEPTED) return FAULT_INSTALL_NAME;
    if (HoldsUnusableCharacter(entry.installName.c_str(), rules.isLeadByte)) return FAULT_NAME_UNCREATABLE;
    if (!entry.checksummed) return FAULT_DATA_SHORT;
    if (entry.record >= 0 &&
        std::memcmp(entry.checksum, verdict.records[entry.record].checksum, CHECKSUM_SIZE) != 0) {
        return FAULT_CHECKSUM;
    }
    return FAULT_NONE;
}

void NoteFirstFault(PackageVerdict& verdict, PackageFault fault, int entry) {
    if (fault == FAULT_NONE || verdict.fault != FAULT_NONE) return;
    verdict.fault = fault;
    verdict.faultEntry = entry;
}

}  // namespace

PackageVerdict JudgePackage(const PackageReader& reader, const NameRules& rules) {
    PackageVerdict verdict;
    verdict.fileSize = reader.fileSize;
    verdict.fault = ReadHeaderAndIndex(reader, verdict);
    if (verdict.fault != FAULT_NONE) {
        verdict.result = verdict.fault == FAULT_TOO_MANY_ENTRIES ? UPDATE_E_TOO_MANY_ENTRIES : UPDATE_E_CORRUPT;
        return verdict;
    }
    verdict.listState = LoadList(reader, rules, verdict);
    // The run loads the list before any entry: a damaged one ends it first.
    if (verdict.listState != LIST_LOADED && verdict.listState != LIST_NO_ENTRY) {
        NoteFirstFault(verdict, FAULT_LIST_DAMAGED, verdict.listEntry);
    }
    for (size_t j = 0; j < verdict.entries.size(); ++j) {
        verdict.entries[j].fault = JudgeEntry(reader, rules, verdict, j);
        NoteFirstFault(verdict, verdict.entries[j].fault, static_cast<int>(j));
    }
    verdict.result = verdict.fault == FAULT_NONE               ? UPDATE_OK
                     : verdict.fault == FAULT_NAME_UNCREATABLE ? UPDATE_E_IO
                                                               : UPDATE_E_CORRUPT;
    return verdict;
}
