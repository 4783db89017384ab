#include "pack_stub.h"

#include <cstring>
#include <vector>

#include "pack_files.h"
#include "package/portable/package_format.h"

namespace {

// Offsets and values of the PE format that the check reads.
constexpr size_t DOS_HEADER_SIZE = 0x40;
constexpr size_t DOS_NEW_HEADER_FIELD = 0x3C;  // e_lfanew
constexpr size_t FILE_HEADER_SIZE = 20;        // after the 4-byte signature
constexpr size_t OPTIONAL_MAGIC_AT = 0;
constexpr size_t SUBSYSTEM_AT = 68;
constexpr uint16_t MACHINE_I386 = 0x014C;
constexpr uint16_t MACHINE_AMD64 = 0x8664;
constexpr uint16_t OPTIONAL_MAGIC_PE32 = 0x10B;
constexpr uint16_t OPTIONAL_MAGIC_PE32_PLUS = 0x20B;
constexpr uint16_t SUBSYSTEM_WINDOWS_GUI = 2;
constexpr uint32_t SECURITY_DIRECTORY = 4;  // the certificate table
constexpr size_t DIRECTORY_SIZE = 8;        // RVA (here a file offset) and size
// Where NumberOfRvaAndSizes stands and the directories begin, PE32 / PE32+.
constexpr size_t DIRECTORY_COUNT_AT_PE32 = 92;
constexpr size_t DIRECTORY_COUNT_AT_PE32_PLUS = 108;

bool Fits(size_t at, size_t length, size_t size) { return at <= size && length <= size - at; }

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p) { return U16(p) | static_cast<uint32_t>(U16(p + 2)) << 16; }

std::string MachineProblem(uint16_t machine, uint16_t magic, StubMachine accepted) {
    if (machine == MACHINE_I386 && magic == OPTIONAL_MAGIC_PE32) return "";
    if (machine == MACHINE_AMD64 && magic == OPTIONAL_MAGIC_PE32_PLUS && accepted == StubMachine::I386_OR_AMD64) {
        return "";
    }
    return "is not a 32-bit (i386) Windows program";
}

}  // namespace

std::string StubProblem(const uint8_t* image, size_t size, StubMachine accepted) {
    const char* notProgram = "is not a Windows program (no MZ and PE headers)";
    if (size < DOS_HEADER_SIZE || image[0] != 'M' || image[1] != 'Z') return notProgram;
    const size_t pe = U32(image + DOS_NEW_HEADER_FIELD);
    if (!Fits(pe, 4 + FILE_HEADER_SIZE, size) || std::memcmp(image + pe, "PE\0\0", 4) != 0) return notProgram;
    const uint16_t machine = U16(image + pe + 4);
    const size_t optional = pe + 4 + FILE_HEADER_SIZE;
    const size_t optionalSize = U16(image + pe + 4 + 16);
    if (!Fits(optional, optionalSize, size) || optionalSize < SUBSYSTEM_AT + 2) return notProgram;
    const uint16_t magic = U16(image + optional + OPTIONAL_MAGIC_AT);
    const std::string wrongMachine = MachineProblem(machine, magic, accepted);
    if (!wrongMachine.empty()) return wrongMachine;
    if (U16(image + optional + SUBSYSTEM_AT) != SUBSYSTEM_WINDOWS_GUI) return "is not a Windows GUI program";

    const size_t countAt = magic == OPTIONAL_MAGIC_PE32 ? DIRECTORY_COUNT_AT_PE32 : DIRECTORY_COUNT_AT_PE32_PLUS;
    if (optionalSize < countAt + 4 || U32(image + optional + countAt) <= SECURITY_DIRECTORY) return "";
    const size_t directory = optional + countAt + 4 + SECURITY_DIRECTORY * DIRECTORY_SIZE;
    if (!Fits(directory, DIRECTORY_SIZE, optional + optionalSize)) return "";
    if (U32(image + directory + 4) != 0) {
        return "carries a signature (a certificate table), which would no longer sign anything inside the patch: "
               "pack the unsigned updater and sign the finished patch instead";
    }
    return "";
}

std::string CheckStub(const std::string& stub, StubMachine accepted, uint64_t& size) {
    const std::string named = "stub \"" + stub + "\"";
    std::vector<uint8_t> image;
    const SmallFile read = ReadSmallFile(stub, PACKAGE_OFFSET, image, size);
    if (read == SmallFile::NOT_A_FILE) return named + NotAFileBecause(stub);
    if (read == SmallFile::TOO_LARGE) {
        return named + ": " + std::to_string(size) + " bytes, more than the " + std::to_string(PACKAGE_OFFSET) +
               " that fit before the package";
    }
    if (read == SmallFile::UNREADABLE) return named + ": cannot read it";
    const std::string problem = StubProblem(image.data(), image.size(), accepted);
    return problem.empty() ? "" : named + " " + problem;
}
