#pragma once
// Interchangeable implementations of Update. The byte loop is the reference;
// the vector kernels feed whole steps of two 32-byte blocks through the algebra
// below and leave the last length % 64 bytes to the byte loop.
//
// After byte i of a call (i from 0), with x0 the low byte of mix before it:
//   low byte of mix = 233^i * (233*x0 + sum over k <= i of b_k * 233^-k)  mod 256
// and 233^32 = 1 mod 256, so both factors repeat with every 32-byte block and
// the inner sum is a plain prefix sum carried from block to block.
// The full mix after a step of two blocks is mix * 233^64 + sum of
// b_k * 233^(63-k) mod 2^32: one multiply per step keeps its chain short.
#include "package/portable/running_checksum.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

struct ChecksumKernel {
    const char* name;
    bool (*supported)();
    void (*update)(RunningChecksum& state, const void* bytes, size_t length);
};

// Every kernel built into this program, the byte loop first, the fastest last.
const ChecksumKernel* ChecksumKernels(size_t& count);

// The fastest kernel this processor runs: the one Update uses.
const ChecksumKernel& SelectedChecksumKernel();

constexpr size_t CHECKSUM_BLOCK = 32;
constexpr size_t CHECKSUM_BLOCK_PAIRS = CHECKSUM_BLOCK / 2;
constexpr size_t CHECKSUM_STEP = 2 * CHECKSUM_BLOCK;
constexpr size_t CHECKSUM_STEP_PAIRS = CHECKSUM_STEP / 2;

constexpr uint32_t ChecksumMultiplierPower(unsigned exponent) {
    uint32_t power = 1;
    for (unsigned i = 0; i < exponent; ++i) power *= CHECKSUM_MULTIPLIER;
    return power;
}

constexpr uint32_t LowByteInverse(uint32_t odd) {
    for (uint32_t x = 1; x < 256; x += 2) {
        if (((x * odd) & 0xFF) == 1) return x;
    }
    return 0;
}

static_assert((ChecksumMultiplierPower(CHECKSUM_BLOCK) & 0xFF) == 1, "low-byte factors repeat every block");
constexpr uint32_t CHECKSUM_STEP_MULTIPLIER = ChecksumMultiplierPower(CHECKSUM_STEP);

// Factors as 16-bit words: word j of an `even` array belongs to byte 2j of the
// block or step, of an `odd` array to byte 2j + 1, which is how bytes split
// into words by masking and shifting.
struct alignas(32) ChecksumBlockWeights {
    uint16_t evenInverse[CHECKSUM_BLOCK_PAIRS];  // 233^-k mod 256
    uint16_t oddInverse[CHECKSUM_BLOCK_PAIRS];
    uint16_t evenPower[CHECKSUM_BLOCK_PAIRS];    // 233^k mod 256
    uint16_t oddPower[CHECKSUM_BLOCK_PAIRS];
    // 233^(63-k) mod 2^32 over a step, as low * 1 + high * 65536 with both
    // halves read as signed by the multiply-add instruction: a low half of
    // 0x8000 or more reads 65536 too small, which one more in the high half restores.
    uint16_t evenTailLow[CHECKSUM_STEP_PAIRS];
    uint16_t oddTailLow[CHECKSUM_STEP_PAIRS];
    uint16_t evenTailHigh[CHECKSUM_STEP_PAIRS];
    uint16_t oddTailHigh[CHECKSUM_STEP_PAIRS];
};

constexpr ChecksumBlockWeights MakeChecksumBlockWeights() {
    ChecksumBlockWeights weights{};
    const uint32_t inverse = LowByteInverse(CHECKSUM_MULTIPLIER);
    uint32_t inversePower = 1;
    for (size_t k = 0; k < CHECKSUM_BLOCK; ++k) {
        const uint32_t power = ChecksumMultiplierPower(static_cast<unsigned>(k));
        const bool even = k % 2 == 0;
        (even ? weights.evenInverse : weights.oddInverse)[k / 2] = static_cast<uint16_t>(inversePower & 0xFF);
        (even ? weights.evenPower : weights.oddPower)[k / 2] = static_cast<uint16_t>(power & 0xFF);
        inversePower = (inversePower * inverse) & 0xFF;
    }
    for (size_t k = 0; k < CHECKSUM_STEP; ++k) {
        const uint32_t tail = ChecksumMultiplierPower(static_cast<unsigned>(CHECKSUM_STEP - 1 - k));
        const uint16_t low = static_cast<uint16_t>(tail);
        const uint16_t high = static_cast<uint16_t>((tail >> 16) + (low >= 0x8000 ? 1 : 0));
        const bool even = k % 2 == 0;
        (even ? weights.evenTailLow : weights.oddTailLow)[k / 2] = low;
        (even ? weights.evenTailHigh : weights.oddTailHigh)[k / 2] = high;
    }
    return weights;
}

inline constexpr ChecksumBlockWeights CHECKSUM_BLOCK_WEIGHTS = MakeChecksumBlockWeights();

// What a vector kernel gathered over its whole steps.
struct ChecksumBlockSums {
    uint32_t mix;    // mix after the steps
    uint8_t mixSum;  // sum of the low bytes of mix after each byte of the steps
    uint8_t mixXor;
    uint8_t byteXor;
};

// Folds a wide kernel's vectors, whatever their width: the mix lanes add up,
// the low bytes of the sum words add up, those of the xor words and the xor
// bytes xor together.
template <typename Vector>
ChecksumBlockSums FoldVectors(const Vector& mixSum, const Vector& mixXor, const Vector& byteXor,
                              const Vector& mixes) {
    uint32_t mixLanes[sizeof(Vector) / 4];
    uint16_t sumWords[sizeof(Vector) / 2], xorWords[sizeof(Vector) / 2];
    uint8_t xorBytes[sizeof(Vector)];
    std::memcpy(mixLanes, &mixes, sizeof mixLanes);
    std::memcpy(sumWords, &mixSum, sizeof sumWords);
    std::memcpy(xorWords, &mixXor, sizeof xorWords);
    std::memcpy(xorBytes, &byteXor, sizeof xorBytes);
    ChecksumBlockSums folded{0, 0, 0, 0};
    for (uint32_t lane : mixLanes) folded.mix += lane;
    for (uint16_t word : sumWords) folded.mixSum = static_cast<uint8_t>(folded.mixSum + word);
    for (uint16_t word : xorWords) folded.mixXor ^= static_cast<uint8_t>(word);
    for (uint8_t byte : xorBytes) folded.byteXor ^= byte;
    return folded;
}

// Folds the sums into the state. byteSum needs no sum of its own: each byte is
// m_k - 233 * m_(k-1) mod 256 for the low bytes m of mix, so the bytes add up to
// mixSum - 233 * (m before + mixSum - m after).
void AddChecksumBlockSums(RunningChecksum& state, const ChecksumBlockSums& sums);

void UpdateSse2(RunningChecksum& state, const void* bytes, size_t length);
void UpdateAvx2(RunningChecksum& state, const void* bytes, size_t length);
void UpdateAvx512(RunningChecksum& state, const void* bytes, size_t length);

#if defined(__i386__) || defined(__x86_64__)
#define CHECKSUM_X86_KERNELS 1
#else
#define CHECKSUM_X86_KERNELS 0
#endif

// The 512-bit kernel only in 64-bit code. Built as 32-bit code, with eight
// vector registers instead of thirty-two, it passed the kernels' tests but
// kept its sums on the stack, and summed slower than the avx2 kernel.
#if defined(__x86_64__)
#define CHECKSUM_AVX512_KERNEL 1
#else
#define CHECKSUM_AVX512_KERNEL 0
#endif

// 32-bit Windows promises only 4-byte stack alignment; vector spills need more.
#if defined(__i386__)
#define CHECKSUM_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define CHECKSUM_ALIGN_STACK
#endif
