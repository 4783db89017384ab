#include "pack_list.h"

#include <cstring>

#include "package/install_names.h"
#include "package/record_lookup.h"
#include "pack_paths.h"
#include "pack_text.h"

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

bool ParseList(const ByteVector& bytes, HashValueHeader& header, std::vector<HashValueRecord>& records,
               size_t& trailing, std::string& why) {
    records.clear();
    if (bytes.size() < sizeof header) {
        why = "is shorter than a list header";
        return false;
    }
    std::memcpy(&header, bytes.data(), sizeof header);
    if (std::memcmp(header.magic, HASH_VALUE_MAGIC, HASH_VALUE_MAGIC_SIZE) != 0) {
        why = "does not start with \"KHV_____\"";
        return false;
    }
    const uint64_t expected = sizeof header + uint64_t{header.count} * sizeof(HashValueRecord);
    if (bytes.size() < expected) {
        why = "holds " + std::to_string(bytes.size()) + " bytes where its " + std::to_string(header.count) +
              " records need " + std::to_string(expected);
        return false;
    }
    trailing = static_cast<size_t>(bytes.size() - expected);
    records.resize(header.count);
    if (header.count) std::memcpy(records.data(), bytes.data() + sizeof header, header.count * sizeof(HashValueRecord));
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
