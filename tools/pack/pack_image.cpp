#include "pack_image.h"

#include <cstring>

namespace {

constexpr uint32_t NEW_HEADER_POINTER = 0x3C;
constexpr char PE_SIGNATURE[] = "PE\0";  // four bytes with its terminator
constexpr uint32_t COFF_HEADER_SIZE = 20;
constexpr uint16_t OPTIONAL_HEADER_PE32 = 0x10B;
constexpr uint16_t OPTIONAL_HEADER_PE32_PLUS = 0x20B;
constexpr uint32_t SIZE_OF_HEADERS_AT = 60;
constexpr uint32_t CHECKSUM_AT = 64;
constexpr uint32_t DIRECTORY_COUNT_AT_PE32 = 92;
constexpr uint32_t DIRECTORY_COUNT_AT_PE32_PLUS = 108;
constexpr uint32_t SECURITY_DIRECTORY = 4;
constexpr uint32_t SECTION_HEADER_SIZE = 40;
constexpr uint32_t SECTION_RAW_SIZE_AT = 16;
constexpr uint32_t SECTION_RAW_POINTER_AT = 20;

bool ReadU16(const PackageReader& reader, uint64_t at, uint16_t& value) {
    uint8_t bytes[2];
    if (at + 2 > reader.fileSize || !reader.readAt(reader.context, at, bytes, 2)) return false;
    value = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    return true;
}

bool ReadU32(const PackageReader& reader, uint64_t at, uint32_t& value) {
    uint8_t bytes[4];
    if (at + 4 > reader.fileSize || !reader.readAt(reader.context, at, bytes, 4)) return false;
    value = static_cast<uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16) | static_cast<uint32_t>(bytes[3]) << 24;
    return true;
}

// The end of the last section's data.
bool SectionsEnd(const PackageReader& reader, uint64_t table, uint16_t count, uint64_t& end) {
    for (uint16_t i = 0; i < count; ++i) {
        uint32_t size = 0, pointer = 0;
        const uint64_t section = table + uint64_t{i} * SECTION_HEADER_SIZE;
        if (!ReadU32(reader, section + SECTION_RAW_SIZE_AT, size) ||
            !ReadU32(reader, section + SECTION_RAW_POINTER_AT, pointer)) {
            return false;
        }
        if (size > 0 && uint64_t{pointer} + size > end) end = uint64_t{pointer} + size;
    }
    return true;
}

}  // namespace

ImageLayout ReadImageLayout(const PackageReader& reader) {
    ImageLayout layout;
    uint8_t mz[2];
    uint32_t peAt = 0;
    char signature[4];
    if (reader.fileSize < 2 || !reader.readAt(reader.context, 0, mz, 2) || mz[0] != 'M' || mz[1] != 'Z' ||
        !ReadU32(reader, NEW_HEADER_POINTER, peAt) || uint64_t{peAt} + 4 > reader.fileSize ||
        !reader.readAt(reader.context, peAt, signature, 4) || std::memcmp(signature, PE_SIGNATURE, 4) != 0) {
        return layout;
    }
    const uint64_t coff = uint64_t{peAt} + 4;
    const uint64_t optional = coff + COFF_HEADER_SIZE;
    uint16_t sections = 0, optionalSize = 0, magic = 0;
    uint32_t headersSize = 0, directories = 0;
    if (!ReadU16(reader, coff + 2, sections) || !ReadU16(reader, coff + 16, optionalSize) ||
        !ReadU16(reader, optional, magic) || (magic != OPTIONAL_HEADER_PE32 && magic != OPTIONAL_HEADER_PE32_PLUS) ||
        !ReadU32(reader, optional + SIZE_OF_HEADERS_AT, headersSize)) {
        return layout;
    }
    const uint32_t countAt = magic == OPTIONAL_HEADER_PE32 ? DIRECTORY_COUNT_AT_PE32 : DIRECTORY_COUNT_AT_PE32_PLUS;
    if (!ReadU32(reader, optional + countAt, directories)) return layout;
    layout.imageEnd = headersSize;
    if (!SectionsEnd(reader, optional + optionalSize, sections, layout.imageEnd)) return layout;
    layout.checksumAt = optional + CHECKSUM_AT;
    uint32_t certificateOffset = 0;
    const uint64_t security = optional + countAt + 4 + uint64_t{SECURITY_DIRECTORY} * DIRECTORY_ENTRY_SIZE;
    if (directories > SECURITY_DIRECTORY && ReadU32(reader, security, certificateOffset) &&
        ReadU32(reader, security + 4, layout.certificateSize)) {
        layout.certificateEntryAt = security;
        // A file offset, unlike the other directories.
        if (layout.certificateSize > 0) layout.certificateOffset = certificateOffset;
    }
    layout.isProgram = true;
    return layout;
}
