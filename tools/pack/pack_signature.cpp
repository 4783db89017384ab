#include "pack_signature.h"

#include <cstring>

#include "pack_files.h"

namespace {

// Offsets of the PE format that lead to the certificate table's entry.
constexpr uint32_t NEW_HEADER_FIELD = 0x3C;  // e_lfanew
constexpr uint32_t FILE_HEADER_SIZE = 20;    // after the 4-byte signature
constexpr uint32_t OPTIONAL_SIZE_AT = 16;    // in the file header
constexpr uint16_t OPTIONAL_MAGIC_PE32 = 0x10B;
constexpr uint16_t OPTIONAL_MAGIC_PE32_PLUS = 0x20B;
// NumberOfRvaAndSizes in the optional header of PE32 / PE32+; the directories follow it.
constexpr uint32_t DIRECTORY_COUNT_AT_PE32 = 92;
constexpr uint32_t DIRECTORY_COUNT_AT_PE32_PLUS = 108;
constexpr uint32_t SECURITY_DIRECTORY = 4;
constexpr uint32_t DIRECTORY_SIZE = 8;

bool ReadAt(FILE* file, uint64_t position, void* buffer, size_t size) {
    return SeekTo(file, position) && std::fread(buffer, 1, size, file) == size;
}

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16; }

}  // namespace

bool ReadCertificateTable(FILE* file, CertificateTable& table) {
    table = CertificateTable{};
    uint8_t dos[NEW_HEADER_FIELD + 4];
    if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint32_t pe = U32(dos + NEW_HEADER_FIELD);
    uint8_t headers[4 + FILE_HEADER_SIZE + 2];
    if (!ReadAt(file, pe, headers, sizeof headers) || std::memcmp(headers, "PE\0\0", 4) != 0) return false;
    const uint32_t optional = pe + 4 + FILE_HEADER_SIZE;
    const uint16_t optionalSize = U16(headers + 4 + OPTIONAL_SIZE_AT);
    const uint16_t magic = U16(headers + 4 + FILE_HEADER_SIZE);
    if (magic != OPTIONAL_MAGIC_PE32 && magic != OPTIONAL_MAGIC_PE32_PLUS) return false;
    const uint32_t countAt = magic == OPTIONAL_MAGIC_PE32 ? DIRECTORY_COUNT_AT_PE32 : DIRECTORY_COUNT_AT_PE32_PLUS;
    const uint32_t entryAt = countAt + 4 + SECURITY_DIRECTORY * DIRECTORY_SIZE;
    uint8_t count[4];
    if (optionalSize < countAt + 4 || !ReadAt(file, optional + countAt, count, sizeof count)) return false;
    if (U32(count) <= SECURITY_DIRECTORY || optionalSize < entryAt + DIRECTORY_SIZE) return true;
    uint8_t entry[DIRECTORY_SIZE];
    if (!ReadAt(file, optional + entryAt, entry, sizeof entry)) return false;
    table.offset = U32(entry);
    table.size = U32(entry + 4);
    table.present = table.size != 0;
    return true;
}
