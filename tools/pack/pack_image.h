#pragma once
// The program image before the package, as far as inspect looks at it: where
// its sections end, and where the certificate table of a signed patch lies.
#include <cstdint>

#include "package/portable/package_verdict.h"

struct ImageLayout {
    bool isProgram = false;       // MZ and PE headers that can be followed
    uint64_t imageEnd = 0;        // the end of the headers and of every section's data
    uint64_t certificateOffset = 0;  // a signature's file offset; 0 without one
    uint32_t certificateSize = 0;
    // Where the fields a signature changes stand: the optional header's checksum
    // and the certificate table's directory entry (0: the headers have none).
    uint64_t checksumAt = 0;
    uint64_t certificateEntryAt = 0;
};

// A certificate table starts at a multiple of this after the padding before it.
constexpr uint64_t CERTIFICATE_ALIGNMENT = 8;
constexpr uint32_t CHECKSUM_FIELD_SIZE = 4;
constexpr uint32_t DIRECTORY_ENTRY_SIZE = 8;

ImageLayout ReadImageLayout(const PackageReader& reader);
