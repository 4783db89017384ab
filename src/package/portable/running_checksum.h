#pragma once
// The 8-byte streaming checksum stored in hash-value records. Its memory
// layout is its stored form: mix (u32 little-endian), mixSum, mixXor,
// byteSum, byteXor.
#include <cstddef>
#include <cstdint>

struct RunningChecksum {
    uint32_t mix;
    uint8_t mixSum;
    uint8_t mixXor;
    uint8_t byteSum;
    uint8_t byteXor;
};
static_assert(sizeof(RunningChecksum) == 8, "checksum is 8 bytes");

constexpr uint32_t CHECKSUM_MULTIPLIER = 233;

void ResetChecksum(RunningChecksum& state);

// Feeds `length` bytes into the state; any split of the same bytes gives the same result.
void Update(RunningChecksum& state, const void* bytes, size_t length);

// The byte-at-a-time definition, kept as the reference for faster kernels.
void UpdateReference(RunningChecksum& state, const void* bytes, size_t length);

// The 8 bytes in stored order.
void StoreChecksum(const RunningChecksum& state, uint8_t out[8]);
bool ChecksumEquals(const RunningChecksum& state, const uint8_t stored[8]);

// The checksum of whatever `readChunk(buffer, capacity, got)` hands over,
// chunk by chunk through `buffer`, until it gives no bytes (got 0). False,
// with nothing stored, as soon as a read fails (readChunk returns false).
template <typename ReadChunk>
bool ChecksumChunks(ReadChunk readChunk, uint8_t* buffer, size_t capacity, uint8_t out[8]) {
    RunningChecksum state;
    ResetChecksum(state);
    for (;;) {
        size_t got = 0;
        if (!readChunk(buffer, capacity, got)) return false;
        if (got == 0) break;
        Update(state, buffer, got);
    }
    StoreChecksum(state, out);
    return true;
}
