#include "package/portable/running_checksum.h"

#include "package/portable/running_checksum_kernels.h"

#include <cstring>

void ResetChecksum(RunningChecksum& state) {
    state = RunningChecksum{};
}

void UpdateReference(RunningChecksum& state, const void* bytes, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    uint32_t mix = state.mix;
    uint8_t mixSum = state.mixSum, mixXor = state.mixXor;
    uint8_t byteSum = state.byteSum, byteXor = state.byteXor;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = p[i];
        mix = mix * CHECKSUM_MULTIPLIER + b;
        const uint8_t m = static_cast<uint8_t>(mix);
        mixSum = static_cast<uint8_t>(mixSum + m);
        mixXor ^= m;
        byteSum = static_cast<uint8_t>(byteSum + b);
        byteXor ^= b;
    }
    state.mix = mix;
    state.mixSum = mixSum;
    state.mixXor = mixXor;
    state.byteSum = byteSum;
    state.byteXor = byteXor;
}

void Update(RunningChecksum& state, const void* bytes, size_t length) {
    SelectedChecksumKernel().update(state, bytes, length);
}

void StoreChecksum(const RunningChecksum& state, uint8_t out[8]) {
    out[0] = static_cast<uint8_t>(state.mix);
    out[1] = static_cast<uint8_t>(state.mix >> 8);
    out[2] = static_cast<uint8_t>(state.mix >> 16);
    out[3] = static_cast<uint8_t>(state.mix >> 24);
    out[4] = state.mixSum;
    out[5] = state.mixXor;
    out[6] = state.byteSum;
    out[7] = state.byteXor;
}

bool ChecksumEquals(const RunningChecksum& state, const uint8_t stored[8]) {
    uint8_t mine[8];
    StoreChecksum(state, mine);
    return std::memcmp(mine, stored, sizeof mine) == 0;
}
