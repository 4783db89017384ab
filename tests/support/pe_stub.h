#pragma once
// Program images for the packer's stub: the headers its check reads (MZ, PE
// signature, file header, optional header with 16 directories), then filler.
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/package_builder.h"

namespace testing_support {

constexpr uint16_t PE_MACHINE_I386 = 0x014C;
constexpr uint16_t PE_MACHINE_AMD64 = 0x8664;
constexpr uint16_t PE_SUBSYSTEM_GUI = 2;
constexpr uint16_t PE_SUBSYSTEM_CONSOLE = 3;

struct StubShape {
    uint16_t machine = PE_MACHINE_I386;
    uint16_t subsystem = PE_SUBSYSTEM_GUI;
    uint32_t certificateSize = 0;  // the certificate table's size: a signed image
    size_t size = 70000;
};

inline std::vector<uint8_t> StubImage(const StubShape& shape = StubShape()) {
    const size_t pe = 0x80, optional = pe + 4 + 20;
    const bool wide = shape.machine == PE_MACHINE_AMD64;
    const size_t directories = optional + (wide ? 112 : 96);
    std::vector<uint8_t> image(shape.size);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 11));
    std::memset(image.data(), 0, directories + 16 * 8);
    const auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&image[at], &v, sizeof v); };
    image[0] = 'M';
    image[1] = 'Z';
    PutU32(image, 0x3C, static_cast<uint32_t>(pe));
    std::memcpy(&image[pe], "PE\0\0", 4);
    put16(pe + 4, shape.machine);
    put16(pe + 4 + 16, static_cast<uint16_t>(directories + 16 * 8 - optional));
    put16(optional, wide ? 0x20B : 0x10B);
    put16(optional + 68, shape.subsystem);
    PutU32(image, directories - 4, 16);
    PutU32(image, directories + 4 * 8, shape.certificateSize ? static_cast<uint32_t>(shape.size) : 0);
    PutU32(image, directories + 4 * 8 + 4, shape.certificateSize);
    return image;
}

}  // namespace testing_support
