// Update with 128-bit vectors: 16 bytes at a time, eight even and eight odd
// bytes as 16-bit words, whose low bytes come out as in 8-bit arithmetic.
#include "package/portable/running_checksum_kernels.h"

#if CHECKSUM_X86_KERNELS
#include <emmintrin.h>

#define SSE2_CODE __attribute__((target("sse2")))

namespace {

constexpr size_t HALF_BLOCK = CHECKSUM_BLOCK / 2;

SSE2_CODE inline __m128i Words(const uint16_t* words) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(words));
}

// Inclusive prefix sum of the eight words; `total` gets their sum in every word.
SSE2_CODE inline __m128i PrefixSum(__m128i x, __m128i& total) {
    x = _mm_add_epi16(x, _mm_slli_si128(x, 2));
    x = _mm_add_epi16(x, _mm_slli_si128(x, 4));
    x = _mm_add_epi16(x, _mm_slli_si128(x, 8));
    const __m128i last = _mm_shufflehi_epi16(x, 0xFF);
    total = _mm_unpackhi_epi64(last, last);
    return x;
}

struct Sse2Sums {
    __m128i carry;   // 233*x0 + every b_k * 233^-k so far, in each word
    __m128i mixSum;  // words whose low bytes add up to mixSum
    __m128i mixXor;  // words whose low bytes xor to mixXor
    __m128i byteXor;
};

// Feeds the 16 bytes at `offset` of a step into the sums; returns four dwords
// adding up to their share of the step's mix.
SSE2_CODE inline __m128i FeedHalfBlock(Sse2Sums& sums, const uint8_t* p, size_t offset) {
    const ChecksumBlockWeights& w = CHECKSUM_BLOCK_WEIGHTS;
    const size_t blockWord = offset / 2 % CHECKSUM_BLOCK_PAIRS;  // first word in the block's factors
    const size_t word = offset / 2;                               // first word in the step's factors
    const __m128i data = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offset));
    const __m128i even = _mm_and_si128(data, _mm_set1_epi16(0x00FF));
    const __m128i odd = _mm_srli_epi16(data, 8);

    // Prefix sums over byte pairs give the sums up to each odd byte; the even
    // byte's sum lacks its odd neighbour's term.
    const __m128i oddTerm = _mm_mullo_epi16(odd, Words(w.oddInverse + blockWord));
    const __m128i pairs = _mm_add_epi16(_mm_mullo_epi16(even, Words(w.evenInverse + blockWord)), oddTerm);
    __m128i total;
    const __m128i oddPrefix = _mm_add_epi16(PrefixSum(pairs, total), sums.carry);
    sums.carry = _mm_add_epi16(sums.carry, total);
    const __m128i oddMix = _mm_mullo_epi16(oddPrefix, Words(w.oddPower + blockWord));
    const __m128i evenMix = _mm_mullo_epi16(_mm_sub_epi16(oddPrefix, oddTerm), Words(w.evenPower + blockWord));
    sums.mixSum = _mm_add_epi16(sums.mixSum, _mm_add_epi16(evenMix, oddMix));
    sums.mixXor = _mm_xor_si128(sums.mixXor, _mm_xor_si128(evenMix, oddMix));
    sums.byteXor = _mm_xor_si128(sums.byteXor, data);

    const __m128i low = _mm_add_epi32(_mm_madd_epi16(even, Words(w.evenTailLow + word)),
                                      _mm_madd_epi16(odd, Words(w.oddTailLow + word)));
    const __m128i high = _mm_add_epi32(_mm_madd_epi16(even, Words(w.evenTailHigh + word)),
                                       _mm_madd_epi16(odd, Words(w.oddTailHigh + word)));
    return _mm_add_epi32(low, _mm_slli_epi32(high, 16));
}

template <size_t N, typename T>
SSE2_CODE inline void Spill(__m128i v, T (&out)[N]) {
    static_assert(sizeof out == sizeof v, "one vector");
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
}

SSE2_CODE ChecksumBlockSums Fold(const Sse2Sums& sums, __m128i mixes) {
    uint16_t sumWords[8], xorWords[8];
    uint8_t xorBytes[16];
    uint32_t mixLanes[4];
    Spill(sums.mixSum, sumWords);
    Spill(sums.mixXor, xorWords);
    Spill(sums.byteXor, xorBytes);
    Spill(mixes, mixLanes);
    ChecksumBlockSums folded{mixLanes[0] + mixLanes[2], 0, 0, 0};
    for (uint16_t word : sumWords) folded.mixSum = static_cast<uint8_t>(folded.mixSum + word);
    for (uint16_t word : xorWords) folded.mixXor ^= static_cast<uint8_t>(word);
    for (uint8_t byte : xorBytes) folded.byteXor ^= byte;
    return folded;
}

}  // namespace

SSE2_CODE CHECKSUM_ALIGN_STACK void UpdateSse2(RunningChecksum& state, const void* bytes, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    const size_t steps = length / CHECKSUM_STEP;
    if (steps > 0) {
        const __m128i zero = _mm_setzero_si128();
        Sse2Sums sums{_mm_set1_epi16(static_cast<short>(CHECKSUM_MULTIPLIER * (state.mix & 0xFF))),
                      zero, zero, zero};
        // The full mix runs in the low dword of each 64-bit lane, the only
        // multiply this instruction set has for 32-bit numbers.
        const __m128i stepMultiplier = _mm_set1_epi32(static_cast<int>(CHECKSUM_STEP_MULTIPLIER));
        __m128i mixes = _mm_cvtsi32_si128(static_cast<int>(state.mix));
        for (size_t s = 0; s < steps; ++s, p += CHECKSUM_STEP) {
            __m128i tail = FeedHalfBlock(sums, p, 0);
            for (size_t offset = HALF_BLOCK; offset < CHECKSUM_STEP; offset += HALF_BLOCK) {
                tail = _mm_add_epi32(tail, FeedHalfBlock(sums, p, offset));
            }
            tail = _mm_add_epi32(tail, _mm_srli_epi64(tail, 32));
            mixes = _mm_add_epi32(_mm_mul_epu32(mixes, stepMultiplier), tail);
        }
        AddChecksumBlockSums(state, Fold(sums, mixes));
    }
    UpdateReference(state, p, length % CHECKSUM_STEP);
}

#endif
