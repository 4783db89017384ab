#pragma once
// What a third party compares with a patch they rebuilt from the same sources
// and files: SHA-256 digests of the program image, of the package, and of the
// bytes an Authenticode signature covers, which signing leaves as they were.
#include <cstdint>
#include <optional>

#include "pack_image.h"
#include "pack_sha256.h"
#include "package/portable/package_verdict.h"

struct Provenance {
    // Bytes 0 to the image's end: of an unsigned patch, the stub as built.
    std::optional<Sha256Digest> program;
    uint64_t programEnd = 0;
    // Bytes PACKAGE_OFFSET to the end of the last entry's data.
    std::optional<Sha256Digest> package;
    uint64_t packageEnd = 0;
    // The file without its checksum field, its certificate table's directory
    // entry and the table itself; an unsigned file padded with zero bytes to the
    // table's alignment, as a signing tool pads it. The same signed or not.
    std::optional<Sha256Digest> authenticode;
};

// The digests a patch has: none of a program without a Windows program, no
// package digest where no entry was read (`dataEnd` 0). False when reading or
// hashing fails.
bool ComputeProvenance(const PackageReader& reader, const ImageLayout& image, uint64_t dataEnd,
                       Provenance& provenance);
