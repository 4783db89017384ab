#include "package/portable/package_layout.h"

#include <cstring>

bool UsesLongEntries(const PackageHeader& header) {
    return std::memcmp(header.magic, PACKAGE_MAGIC, PACKAGE_MAGIC_SIZE) == 0;
}

uint32_t IndexEntrySize(bool longEntries) {
    return longEntries ? sizeof(LongIndexEntry) : sizeof(ShortIndexEntry);
}

uint32_t DataBaseOf(uint32_t count, bool longEntries) {
    return PACKAGE_OFFSET + sizeof(PackageHeader) + count * IndexEntrySize(longEntries);
}

uint32_t EntryPositionOf(uint32_t dataBase, uint32_t offset) {
    return dataBase + offset;
}

bool DataInFile(uint32_t position, uint32_t size, uint64_t fileSize) {
    return size == 0 || uint64_t{position} + size <= fileSize;
}

bool NameTerminated(const char* field, size_t fieldSize) {
    return std::memchr(field, 0, fieldSize) != nullptr;
}
