#include "package/portable/running_checksum_kernels.h"

namespace {

bool Always() {
    return true;
}

#if CHECKSUM_X86_KERNELS
bool HasSse2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
}

// The runtime's check includes the operating system saving the wide registers.
bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

#if CHECKSUM_AVX512_KERNEL
bool HasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
}
#endif
#endif

const ChecksumKernel KERNELS[] = {
    {"bytewise", Always, UpdateReference},
#if CHECKSUM_X86_KERNELS
    {"sse2", HasSse2, UpdateSse2},
    {"avx2", HasAvx2, UpdateAvx2},
#endif
#if CHECKSUM_AVX512_KERNEL
    {"avx512", HasAvx512, UpdateAvx512},
#endif
};

const ChecksumKernel& FastestSupported() {
    size_t i = sizeof KERNELS / sizeof KERNELS[0];
    while (--i > 0 && !KERNELS[i].supported()) {
    }
    return KERNELS[i];
}

}  // namespace

const ChecksumKernel* ChecksumKernels(size_t& count) {
    count = sizeof KERNELS / sizeof KERNELS[0];
    return KERNELS;
}

const ChecksumKernel& SelectedChecksumKernel() {
    static const ChecksumKernel& selected = FastestSupported();
    return selected;
}

void AddChecksumBlockSums(RunningChecksum& state, const ChecksumBlockSums& sums) {
    const uint32_t before = state.mix & 0xFF;
    const uint32_t after = sums.mix & 0xFF;
    const uint32_t byteSum = sums.mixSum - CHECKSUM_MULTIPLIER * (before + sums.mixSum - after);
    state.mix = sums.mix;
    state.mixSum = static_cast<uint8_t>(state.mixSum + sums.mixSum);
    state.mixXor ^= sums.mixXor;
    state.byteSum = static_cast<uint8_t>(state.byteSum + byteSum);
    state.byteXor ^= sums.byteXor;
}
