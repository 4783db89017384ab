#include "package/hash_value_list.h"

#include <cstring>
#include <new>

#include "package/lower_case.h"
#include "package/portable/hash_value_bytes.h"
#include "package/portable/package_layout.h"

namespace {

// The first entry whose lower-cased name is the list's name, or count when none is.
uint32_t FindListEntry(const PackageIndex& index) {
    for (uint32_t j = 0; j < index.count; ++j) {
        if (IsListEntryName(EntryName(index, j), ANSI_NAME_RULES)) return j;
    }
    return index.count;
}

}  // namespace

UpdateResult LoadHashValueList(const PackageIndex& index, FileHandle& image, HashValueList& list) {
    list = HashValueList{};
    const uint32_t entry = FindListEntry(index);
    if (entry == index.count) return UPDATE_OK;

    // The header's bytes, then the records straight into their array: the
    // entry may be far larger than the list it holds.
    const uint32_t position = EntryPosition(index, entry);
    uint8_t head[sizeof(HashValueHeader)];
    if (!image.Seek(position)) return UPDATE_E_CORRUPT;
    const uint32_t got = image.Read(head, sizeof head);
    const uint64_t fileSize = image.Size();
    const uint64_t available = got < sizeof head || fileSize < position ? got : fileSize - position;
    HashValueHeader header;
    if (ReadListHeader(head, available, EntrySize(index, entry), MAGIC_TESTED, header) != LIST_LOADED) {
        return UPDATE_E_CORRUPT;
    }
    if (header.count == 0) return UPDATE_OK;

    std::unique_ptr<HashValueRecord[]> records(new (std::nothrow) HashValueRecord[header.count]);
    if (!records) return UPDATE_E_IO;
    const uint32_t bytes = RecordBytes(header.count);
    if (image.Read(records.get(), bytes) != bytes) return UPDATE_E_CORRUPT;
    list.count = header.count;
    list.records = std::move(records);
    return UPDATE_OK;
}

RecordMatch LookUpRecord(const HashValueList& list, const char* storedName) {
    const int found = FindRecordIndex(list.records.get(), list.count, storedName, ANSI_NAME_RULES);
    if (found < 0) return {storedName, nullptr};
    return {list.records[found].path, list.records[found].checksum};
}
