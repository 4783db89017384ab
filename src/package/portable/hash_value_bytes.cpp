#include "package/portable/hash_value_bytes.h"

#include <cstring>

ListState ReadListHeader(const void* head, uint64_t available, uint64_t room, MagicTest magic, HashValueHeader& header) {
    if (available < sizeof header) return LIST_HEADER_SHORT;
    std::memcpy(&header, head, sizeof header);
    if (magic == MAGIC_TESTED && std::memcmp(header.magic, HASH_VALUE_MAGIC, HASH_VALUE_MAGIC_SIZE) != 0) {
        return LIST_WRONG_MAGIC;
    }
    const uint64_t size = sizeof header + uint64_t{header.count} * sizeof(HashValueRecord);
    if (size > room) return LIST_RECORDS_PAST_ENTRY;
    if (size > UINT32_MAX) return LIST_COUNT_OVERFLOW;
    if (size > available) return LIST_RECORDS_PAST_END;
    return LIST_LOADED;
}
