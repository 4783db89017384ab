// Update with 256-bit vectors: one 32-byte block at a time, sixteen even and
// sixteen odd bytes as 16-bit words, whose low bytes come out as in 8-bit arithmetic.
#include "package/portable/running_checksum_kernels.h"

#if CHECKSUM_X86_KERNELS
#include <immintrin.h>

#define AVX2_CODE __attribute__((target("avx2")))

namespace {

AVX2_CODE inline __m256i Words(const uint16_t* words) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(words));
}

// Inclusive prefix sum of the sixteen words; `total` gets their sum in every word.
AVX2_CODE inline __m256i PrefixSum(__m256i x, __m256i& total) {
    x = _mm256_add_epi16(x, _mm256_slli_si256(x, 2));
    x = _mm256_add_epi16(x, _mm256_slli_si256(x, 4));
    x = _mm256_add_epi16(x, _mm256_slli_si256(x, 8));
    // Shifts stay within 128-bit halves: each half now holds its own prefix,
    // and the lower half's last word still has to reach the upper half.
    const __m256i halfTotals = _mm256_shuffle_epi8(x, _mm256_set1_epi16(0x0F0E));
    total = _mm256_add_epi16(halfTotals, _mm256_permute2x128_si256(halfTotals, halfTotals, 0x01));
    return _mm256_add_epi16(x, _mm256_permute2x128_si256(halfTotals, halfTotals, 0x08));
}

struct Avx2Sums {
    __m256i carry;   // 233*x0 + every b_k * 233^-k so far, in each word
    __m256i mixSum;  // words whose low bytes add up to mixSum
    __m256i mixXor;  // words whose low bytes xor to mixXor
    __m256i byteXor;
};

// Feeds block `block` of a step into the sums; returns eight dwords adding up
// to the block's share of the step's mix.
AVX2_CODE inline __m256i FeedBlock(Avx2Sums& sums, const uint8_t* p, size_t block) {
    const ChecksumBlockWeights& w = CHECKSUM_BLOCK_WEIGHTS;
    const __m256i data = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + block * CHECKSUM_BLOCK));
    const __m256i even = _mm256_and_si256(data, _mm256_set1_epi16(0x00FF));
    const __m256i odd = _mm256_srli_epi16(data, 8);

    // Prefix sums over byte pairs give the sums up to each odd byte; the even
    // byte's sum lacks its odd neighbour's term.
    const __m256i oddTerm = _mm256_mullo_epi16(odd, Words(w.oddInverse));
    const __m256i pairs = _mm256_add_epi16(_mm256_mullo_epi16(even, Words(w.evenInverse)), oddTerm);
    __m256i total;
    const __m256i oddPrefix = _mm256_add_epi16(PrefixSum(pairs, total), sums.carry);
    sums.carry = _mm256_add_epi16(sums.carry, total);
    const __m256i oddMix = _mm256_mullo_epi16(oddPrefix, Words(w.oddPower));
    const __m256i evenMix = _mm256_mullo_epi16(_mm256_sub_epi16(oddPrefix, oddTerm), Words(w.evenPower));
    sums.mixSum = _mm256_add_epi16(sums.mixSum, _mm256_add_epi16(evenMix, oddMix));
    sums.mixXor = _mm256_xor_si256(sums.mixXor, _mm256_xor_si256(evenMix, oddMix));
    sums.byteXor = _mm256_xor_si256(sums.byteXor, data);

    const size_t word = block * CHECKSUM_BLOCK_PAIRS;
    const __m256i low = _mm256_add_epi32(_mm256_madd_epi16(even, Words(w.evenTailLow + word)),
                                         _mm256_madd_epi16(odd, Words(w.oddTailLow + word)));
    const __m256i high = _mm256_add_epi32(_mm256_madd_epi16(even, Words(w.evenTailHigh + word)),
                                          _mm256_madd_epi16(odd, Words(w.oddTailHigh + word)));
    return _mm256_add_epi32(low, _mm256_slli_epi32(high, 16));
}

}  // namespace

AVX2_CODE CHECKSUM_ALIGN_STACK void UpdateAvx2(RunningChecksum& state, const void* bytes, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    const size_t steps = length / CHECKSUM_STEP;
    if (steps > 0) {
        const __m256i zero = _mm256_setzero_si256();
        Avx2Sums sums{_mm256_set1_epi16(static_cast<short>(CHECKSUM_MULTIPLIER * (state.mix & 0xFF))),
                      zero, zero, zero};
        const __m256i stepMultiplier = _mm256_set1_epi32(static_cast<int>(CHECKSUM_STEP_MULTIPLIER));
        // Eight dwords adding up to the full mix.
        __m256i mixes = _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(state.mix)));
        for (size_t s = 0; s < steps; ++s, p += CHECKSUM_STEP) {
            const __m256i first = FeedBlock(sums, p, 0);
            const __m256i tail = _mm256_add_epi32(first, FeedBlock(sums, p, 1));
            mixes = _mm256_add_epi32(_mm256_mullo_epi32(mixes, stepMultiplier), tail);
        }
        AddChecksumBlockSums(state, FoldVectors(sums.mixSum, sums.mixXor, sums.byteXor, mixes));
    }
    UpdateReference(state, p, length % CHECKSUM_STEP);
}

#endif
