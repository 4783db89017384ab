#include "package/hash_value_list.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "package/lower_case.h"

namespace {

// The first entry whose lower-cased name is the list's name, or count when none is.
uint32_t FindListEntry(const PackageIndex& index) {
    for (uint32_t j = 0; j < index.count; ++j) {
        if (LoweredNameEquals(EntryName(index, j), HASH_VALUE_LIST_NAME)) return j;
    }
    return index.count;
}

// Whether `count` records fit between `start` and the end of the file.
bool RecordsFitFile(uint32_t count, uint32_t start, uint32_t fileSize) {
    if (fileSize == INVALID_FILE_SIZE || start > fileSize) return false;
    const uint64_t bytes = uint64_t{count} * sizeof(HashValueRecord);
    return bytes <= fileSize - start;
}

}  // namespace

bool LoadHashValueList(const PackageIndex& index, FileHandle& image, HashValueList& list) {
    list = HashValueList{};
    const uint32_t entry = FindListEntry(index);
    if (entry == index.count) return true;

    const uint32_t position = EntryPosition(index, entry);
    if (!image.Seek(position)) return true;
    HashValueHeader header;
    if (image.Read(&header, sizeof header) != sizeof header) return true;
    if (std::memcmp(header.magic, HASH_VALUE_MAGIC, HASH_VALUE_MAGIC_SIZE) != 0) return true;
    if (header.count == 0) return true;
    if (!RecordsFitFile(header.count, position + sizeof header, image.Size())) return true;

    std::unique_ptr<HashValueRecord[]> records(new (std::nothrow) HashValueRecord[header.count]);
    if (!records) return false;
    const uint32_t bytes = header.count * static_cast<uint32_t>(sizeof(HashValueRecord));
    if (image.Read(records.get(), bytes) != bytes) return true;
    list.count = header.count;
    list.records = std::move(records);
    return true;
}

bool RecordPathTerminated(const HashValueRecord& record) {
    return std::memchr(record.path, 0, sizeof record.path) != nullptr;
}

void SplitLastComponent(const char* path, const char** name, const char** extension) {
    const char* p = path;
    if (p[0] != '\0' && p[1] == ':') p += 2;
    const char* nameStart = p;
    const char* lastDot = nullptr;
    while (*p != '\0') {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p))) {
            p += p[1] != '\0' ? 2 : 1;  // never past the terminator
            continue;
        }
        if (*p == '\\' || *p == '/') {
            nameStart = p + 1;
            lastDot = nullptr;
        } else if (*p == '.') {
            lastDot = p;
        }
        ++p;
    }
    *name = nameStart;
    *extension = lastDot ? lastDot : p;
}

RecordMatch LookUpRecord(const HashValueList& list, const char* storedName) {
    char loweredEntry[MAX_PATH];
    const bool entryFits = LoweredCopy(storedName, loweredEntry, sizeof loweredEntry);
    for (uint32_t i = 0; entryFits && i < list.count; ++i) {
        const HashValueRecord& record = list.records[i];
        if (!RecordPathTerminated(record)) continue;
        const char* name;
        const char* extension;
        SplitLastComponent(record.path, &name, &extension);
        char component[MAX_PATH];
        const int length = std::snprintf(component, sizeof component, "%.*s%s",
                                         static_cast<int>(extension - name), name, extension);
        if (length < 0 || static_cast<size_t>(length) >= sizeof component) continue;
        LowerCaseMultibyte(component);
        if (std::strcmp(component, loweredEntry) == 0) return {record.path, record.checksum};
    }
    return {storedName, nullptr};
}
