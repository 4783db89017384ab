// Update with 512-bit vectors: a whole 64-byte step per vector, thirty-two even
// and thirty-two odd bytes as 16-bit words. The low-byte factors repeat every
// 32 bytes, so each 256-bit array of them serves both halves of a vector.
#include "package/portable/running_checksum_kernels.h"

#if CHECKSUM_AVX512_KERNEL
// GCC 12's 512-bit intrinsics start some results from a deliberately undefined
// vector, which its flow analysis reports as uninitialized.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#define AVX512_CODE __attribute__((target("avx512f,avx512bw")))

namespace {

AVX512_CODE inline __m512i Words(const uint16_t* words) {
    return _mm512_loadu_si512(words);
}

AVX512_CODE inline __m512i RepeatedWords(const uint16_t* words) {
    return _mm512_broadcast_i64x4(_mm256_load_si256(reinterpret_cast<const __m256i*>(words)));
}

// The vector moved up by `lanes` 128-bit lanes, zeros coming in.
template <int LANES>
AVX512_CODE inline __m512i LanesUp(__m512i x) {
    return _mm512_alignr_epi64(x, _mm512_setzero_si512(), 8 - 2 * LANES);
}

// Inclusive prefix sum of the thirty-two words; `total` gets their sum in every word.
AVX512_CODE inline __m512i PrefixSum(__m512i x, __m512i& total) {
    x = _mm512_add_epi16(x, _mm512_bslli_epi128(x, 2));
    x = _mm512_add_epi16(x, _mm512_bslli_epi128(x, 4));
    x = _mm512_add_epi16(x, _mm512_bslli_epi128(x, 8));
    // Each 128-bit lane holds its own prefix; the lanes below add their totals.
    const __m512i laneTotals = _mm512_shuffle_epi8(x, _mm512_set1_epi16(0x0F0E));
    __m512i upTo = _mm512_add_epi16(laneTotals, LanesUp<1>(laneTotals));
    upTo = _mm512_add_epi16(upTo, LanesUp<2>(upTo));
    total = _mm512_shuffle_i64x2(upTo, upTo, 0xFF);
    return _mm512_add_epi16(x, _mm512_sub_epi16(upTo, laneTotals));
}

struct Avx512Sums {
    __m512i carry;   // 233*x0 + every b_k * 233^-k so far, in each word
    __m512i mixSum;  // words whose low bytes add up to mixSum
    __m512i mixXor;  // words whose low bytes xor to mixXor
    __m512i byteXor;
};

// Feeds one step into the sums; returns sixteen dwords adding up to the step's
// share of the mix.
AVX512_CODE inline __m512i FeedStep(Avx512Sums& sums, const uint8_t* p) {
    const ChecksumBlockWeights& w = CHECKSUM_BLOCK_WEIGHTS;
    const __m512i data = _mm512_loadu_si512(p);
    const __m512i even = _mm512_and_si512(data, _mm512_set1_epi16(0x00FF));
    const __m512i odd = _mm512_srli_epi16(data, 8);

    // Prefix sums over byte pairs give the sums up to each odd byte; the even
    // byte's sum lacks its odd neighbour's term.
    const __m512i oddTerm = _mm512_mullo_epi16(odd, RepeatedWords(w.oddInverse));
    const __m512i pairs = _mm512_add_epi16(_mm512_mullo_epi16(even, RepeatedWords(w.evenInverse)), oddTerm);
    __m512i total;
    const __m512i oddPrefix = _mm512_add_epi16(PrefixSum(pairs, total), sums.carry);
    sums.carry = _mm512_add_epi16(sums.carry, total);
    const __m512i oddMix = _mm512_mullo_epi16(oddPrefix, RepeatedWords(w.oddPower));
    const __m512i evenMix = _mm512_mullo_epi16(_mm512_sub_epi16(oddPrefix, oddTerm), RepeatedWords(w.evenPower));
    sums.mixSum = _mm512_add_epi16(sums.mixSum, _mm512_add_epi16(evenMix, oddMix));
    sums.mixXor = _mm512_ternarylogic_epi32(sums.mixXor, evenMix, oddMix, 0x96);  // three-way xor
    sums.byteXor = _mm512_xor_si512(sums.byteXor, data);

    const __m512i low = _mm512_add_epi32(_mm512_madd_epi16(even, Words(w.evenTailLow)),
                                         _mm512_madd_epi16(odd, Words(w.oddTailLow)));
    const __m512i high = _mm512_add_epi32(_mm512_madd_epi16(even, Words(w.evenTailHigh)),
                                          _mm512_madd_epi16(odd, Words(w.oddTailHigh)));
    return _mm512_add_epi32(low, _mm512_slli_epi32(high, 16));
}

}  // namespace

static_assert(sizeof(__m512i) == CHECKSUM_STEP, "one vector a step");
static_assert(sizeof CHECKSUM_BLOCK_WEIGHTS.evenTailLow == sizeof(__m512i), "tail factors fill a vector");

AVX512_CODE CHECKSUM_ALIGN_STACK void UpdateAvx512(RunningChecksum& state, const void* bytes, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes);
    const size_t steps = length / CHECKSUM_STEP;
    if (steps > 0) {
        const __m512i zero = _mm512_setzero_si512();
        Avx512Sums sums{_mm512_set1_epi16(static_cast<short>(CHECKSUM_MULTIPLIER * (state.mix & 0xFF))),
                        zero, zero, zero};
        const __m512i stepMultiplier = _mm512_set1_epi32(static_cast<int>(CHECKSUM_STEP_MULTIPLIER));
        // Sixteen dwords adding up to the full mix.
        __m512i mixes = _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(state.mix)));
        for (size_t s = 0; s < steps; ++s, p += CHECKSUM_STEP) {
            mixes = _mm512_add_epi32(_mm512_mullo_epi32(mixes, stepMultiplier), FeedStep(sums, p));
        }
        AddChecksumBlockSums(state, FoldVectors(sums.mixSum, sums.mixXor, sums.byteXor, mixes));
    }
    UpdateReference(state, p, length % CHECKSUM_STEP);
}

#endif
