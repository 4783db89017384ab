// Checksum speed of every kernel this processor runs, next to memcpy of the
// same warm buffer in the same run. Best of several repetitions; GB/s is
// 10^9 bytes per second.
//   checksum_bench [MiB]   buffer size, 64 MiB unless given
#include "package/portable/running_checksum_kernels.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int REPETITIONS = 7;
constexpr size_t DEFAULT_MIB = 64;
// Width of the "what" column, the same in every benchmark.
constexpr int WHAT_WIDTH = 44;

template <typename Work>
double BestGigabytesPerSecond(size_t bytes, Work work) {
    double best = 0;
    for (int i = 0; i < REPETITIONS; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        const double rate = bytes / took.count() / 1e9;
        if (rate > best) best = rate;
    }
    return best;
}

void Row(const char* what, double rate, const char* note) {
    std::printf("%-*s %8.2f GB/s  %s\n", WHAT_WIDTH, what, rate, note);
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : DEFAULT_MIB;
    if (mib == 0) {
        std::fprintf(stderr, "usage: checksum_bench [MiB]\n");
        return 2;
    }
    const size_t size = mib << 20;
    std::vector<uint8_t> source(size), target(size);
    std::mt19937 random(1);
    for (auto& b : source) b = static_cast<uint8_t>(random());
    std::memcpy(target.data(), source.data(), size);

    char note[64];
    std::snprintf(note, sizeof note, "%zu MiB warm, best of %d", mib, REPETITIONS);
    std::printf("# %-*s %8s\n", WHAT_WIDTH - 2, "what", "figure");
    Row("memcpy", BestGigabytesPerSecond(size, [&] { std::memcpy(target.data(), source.data(), size); }), note);

    RunningChecksum reference{};
    UpdateReference(reference, source.data(), size);
    size_t count = 0;
    const ChecksumKernel* kernels = ChecksumKernels(count);
    int status = 0;
    for (size_t i = 0; i < count; ++i) {
        char what[64];
        std::snprintf(what, sizeof what, "checksum %s%s", kernels[i].name,
                      &kernels[i] == &SelectedChecksumKernel() ? " (used)" : "");
        if (!kernels[i].supported()) {
            std::printf("%-*s %8s       not supported here\n", WHAT_WIDTH, what, "-");
            continue;
        }
        RunningChecksum state{};
        const double rate = BestGigabytesPerSecond(size, [&] {
            state = RunningChecksum{};
            kernels[i].update(state, source.data(), size);
        });
        Row(what, rate, note);
        if (std::memcmp(&state, &reference, sizeof state) != 0) {
            std::fprintf(stderr, "checksum_bench: %s differs from the byte loop\n", kernels[i].name);
            status = 1;
        }
    }
    return status;
}
