#include "pack_list.h"

#include <cstring>

#include "pack_paths.h"
#include "pack_text.h"
#include "package/portable/install_names.h"
#include "package/portable/record_lookup.h"

std::string RecordPath(const HashValueRecord& record) {
    const void* end = std::memchr(record.path, 0, sizeof record.path);
    const size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - record.path) : sizeof record.path;
    return std::string(record.path, length);
}

HashValueRecord MakeRecord(const std::string& sjisPath) {
    HashValueRecord record{};
    std::memcpy(record.path, sjisPath.data(), sjisPath.size() < RECORD_PATH_SIZE ? sjisPath.size() : RECORD_PATH_SIZE - 1);
    return record;
}

namespace {

std::string ListFaultText(ListState state, const HashValueHeader& header, size_t size) {
    const uint64_t needed = sizeof header + uint64_t{header.count} * sizeof(HashValueRecord);
    switch (state) {
        case LIST_HEADER_SHORT: return "is shorter than a list header";
        case LIST_WRONG_MAGIC: return "does not start with \"KHV_____\"";
        case LIST_COUNT_OVERFLOW: return "counts " + std::to_string(header.count) + " records, more than any list holds";
        default:
            return "holds " + std::to_string(size) + " bytes where its " + std::to_string(header.count) +
                   " records need " + std::to_string(needed);
    }
}

}  // namespace

bool ParseList(const ByteVector& bytes, MagicTest magic, HashValueHeader& header,
               std::vector<HashValueRecord>& records, size_t& trailing, std::string& why) {
    records.clear();
    const ListState state = ReadListFileHeader(bytes.data(), bytes.size(), magic, header);
    if (state != LIST_LOADED) {
        why = ListFaultText(state, header, bytes.size());
        return false;
    }
    const size_t recordBytes = RecordBytes(header.count);
    trailing = bytes.size() - sizeof header - recordBytes;
    records.resize(header.count);
    if (recordBytes) std::memcpy(records.data(), bytes.data() + sizeof header, recordBytes);
    return true;
}

ByteVector ListBytes(uint32_t reserved, const std::vector<HashValueRecord>& records) {
    HashValueHeader header{};
    std::memcpy(header.magic, HASH_VALUE_MAGIC, HASH_VALUE_MAGIC_SIZE);
    header.reserved = reserved;
    header.count = static_cast<uint32_t>(records.size());
    ByteVector bytes(sizeof header + records.size() * sizeof(HashValueRecord));
    std::memcpy(bytes.data(), &header, sizeof header);
    if (!records.empty()) std::memcpy(bytes.data() + sizeof header, records.data(), records.size() * sizeof(HashValueRecord));
    return bytes;
}

bool ComponentKey(const std::string& sjis, std::u32string& key) {
    return FoldedKey(LastComponent(sjis), key);
}

int FindRecord(const std::vector<HashValueRecord>& records, const std::string& entryName) {
    return FindRecordIndex(records.data(), static_cast<uint32_t>(records.size()), entryName.c_str(), CP932_NAME_RULES);
}

int FindPathRecord(const std::vector<HashValueRecord>& records, const std::string& sjisPath) {
    for (size_t i = 0; i < records.size(); ++i) {
        if (SameInstallName(RecordPath(records[i]).c_str(), sjisPath.c_str(), CP932_NAME_RULES)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}
