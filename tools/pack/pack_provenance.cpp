#include "pack_provenance.h"

#include <algorithm>
#include <vector>

#include "io/portable/chunk_size.h"
#include "package/portable/package_format.h"

namespace {

struct ByteRange {
    uint64_t from, to;
};

// One digest over some ranges of the file, in file order, then zero bytes.
struct DigestWalk {
    std::optional<Sha256Digest>* result;
    std::vector<ByteRange> ranges;
    uint64_t zeros;
};

// [0, fileSize) without the `holes`, which may overlap or reach past the end.
std::vector<ByteRange> Without(std::vector<ByteRange> holes, uint64_t fileSize) {
    std::sort(holes.begin(), holes.end(), [](const ByteRange& a, const ByteRange& b) { return a.from < b.from; });
    std::vector<ByteRange> kept;
    uint64_t at = 0;
    for (const ByteRange& hole : holes) {
        if (hole.from > at) kept.push_back({at, std::min(hole.from, fileSize)});
        at = std::max(at, hole.to);
        if (at >= fileSize) return kept;
    }
    kept.push_back({at, fileSize});
    return kept;
}

uint64_t PaddingTo(uint64_t size, uint64_t alignment) { return (alignment - size % alignment) % alignment; }

std::vector<ByteRange> AuthenticodeRanges(const ImageLayout& image, uint64_t fileSize) {
    std::vector<ByteRange> holes = {{image.checksumAt, image.checksumAt + CHECKSUM_FIELD_SIZE}};
    if (image.certificateEntryAt > 0) {
        holes.push_back({image.certificateEntryAt, image.certificateEntryAt + DIRECTORY_ENTRY_SIZE});
    }
    if (image.certificateSize > 0) {
        holes.push_back({image.certificateOffset, image.certificateOffset + image.certificateSize});
    }
    return Without(holes, fileSize);
}

// Reads the file once, front to back, feeding each chunk to the walks that cover it.
bool RunWalks(const PackageReader& reader, const std::vector<DigestWalk>& walks) {
    std::vector<Sha256> states;
    uint64_t end = 0;
    for (const DigestWalk& walk : walks) {
        states.push_back(StartSha256());
        if (!states.back()) return false;
        for (const ByteRange& range : walk.ranges) end = std::max(end, range.to);
    }
    std::vector<uint8_t> chunk(COPY_CHUNK_SIZE);
    for (uint64_t at = 0; at < end; at += COPY_CHUNK_SIZE) {
        const uint32_t size = static_cast<uint32_t>(std::min<uint64_t>(COPY_CHUNK_SIZE, end - at));
        if (!reader.readAt(reader.context, at, chunk.data(), size)) return false;
        for (size_t i = 0; i < walks.size(); ++i) {
            for (const ByteRange& range : walks[i].ranges) {
                const uint64_t from = std::max(at, range.from), to = std::min(at + size, range.to);
                if (from < to && !AddToSha256(*states[i], chunk.data() + (from - at), to - from)) return false;
            }
        }
    }
    const std::vector<uint8_t> zeros(CERTIFICATE_ALIGNMENT, 0);
    for (size_t i = 0; i < walks.size(); ++i) {
        Sha256Digest digest;
        if (!AddToSha256(*states[i], zeros.data(), walks[i].zeros) || !FinishSha256(*states[i], digest)) return false;
        *walks[i].result = digest;
    }
    return true;
}

}  // namespace

bool ComputeProvenance(const PackageReader& reader, const ImageLayout& image, uint64_t dataEnd,
                       Provenance& provenance) {
    provenance = Provenance{};
    const uint64_t fileSize = reader.fileSize;
    std::vector<DigestWalk> walks;
    if (image.isProgram) {
        provenance.programEnd = std::min(image.imageEnd, fileSize);
        walks.push_back({&provenance.program, {{0, provenance.programEnd}}, 0});
        // Signed, the padding is in the file already.
        const uint64_t padding = image.certificateSize > 0 ? 0 : PaddingTo(fileSize, CERTIFICATE_ALIGNMENT);
        walks.push_back({&provenance.authenticode, AuthenticodeRanges(image, fileSize), padding});
    }
    if (dataEnd > PACKAGE_OFFSET) {
        provenance.packageEnd = std::min(dataEnd, fileSize);
        walks.push_back({&provenance.package, {{PACKAGE_OFFSET, provenance.packageEnd}}, 0});
    }
    return RunWalks(reader, walks);
}
