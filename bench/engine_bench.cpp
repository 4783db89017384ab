// The installation engine without its window: the update run extracting and
// verifying a patch into a fresh folder, next to the plain copy of the same
// bytes without checksum, in the same run. Warm cache, best of several runs;
// GB/s is 10^9 bytes of entry data per second.
//   engine_bench BENCH_FOLDER [REPETITIONS]   reads BENCH_FOLDER\patch.exe
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_folders.h"
#include "install/update_run.h"
#include "package/package_index.h"
#include "plain_copy.h"
#include "ui/progress_dialog.h"

namespace {

constexpr int DEFAULT_REPETITIONS = 15;

double EntryBytes(const std::string& patch) {
    FileHandle image;
    PackageIndex index;
    if (LoadPackageIndexFromFile(patch.c_str(), image, index) != UPDATE_OK) return 0;
    double bytes = 0;
    for (uint32_t i = 0; i < index.count; ++i) bytes += EntrySize(index, i);
    return bytes;
}

// Best time of `work`, into a fresh install folder each time or, with
// `fresh` false, over the files the previous time installed. One untimed time
// first, so the patch and the folder are warm; negative when it failed.
template <typename Work>
double BestSeconds(const std::string& folder, bool fresh, int repetitions, Work work) {
    if (!bench::FreshInstallFolder(folder) || !work()) return -1;
    double best = -1;
    for (int i = 0; i < repetitions; ++i) {
        if (fresh && !bench::FreshInstallFolder(folder)) return -1;
        const double start = bench::Now();
        if (!work()) return -1;
        const double took = bench::Now() - start;
        if (best < 0 || took < best) best = took;
    }
    return best;
}

void Row(const char* what, const char* where, double bytes, double seconds, int repetitions) {
    std::printf("%-*s %8.2f GB/s  %.3f s for %.1f MB, %s, best of %d\n", bench::WHAT_WIDTH, what,
                bytes / seconds / 1e9, seconds, bytes / 1e6, where, repetitions);
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : DEFAULT_REPETITIONS;
    if (argc < 2 || repetitions < 1) {
        std::fprintf(stderr, "usage: engine_bench BENCH_FOLDER [REPETITIONS]\n");
        return 2;
    }
    const std::string patch = std::string(argv[1]) + "\\patch.exe";
    const std::string folder = std::string(argv[1]) + "\\engine";
    const double bytes = EntryBytes(patch);
    if (bytes <= 0) {
        std::fprintf(stderr, "engine_bench: %s is no patch\n", patch.c_str());
        return 1;
    }
    // progressDialogHandle stays null: the run skips every control.
    const auto update = [&] { return UpdateRunFromPackage(patch.c_str(), folder.c_str()) == UPDATE_OK; };
    const auto copy = [&] { return PlainCopy(patch.c_str(), folder.c_str(), ProgressControls{}); };
    const auto summed = [&] { return PlainCopy(patch.c_str(), folder.c_str(), ProgressControls{}, true); };
    int status = 0;
    std::printf("# %-*s %8s\n", bench::WHAT_WIDTH - 2, "what", "figure");
    for (const bool fresh : {true, false}) {
        const double updateSeconds = BestSeconds(folder, fresh, repetitions, update);
        const double copySeconds = BestSeconds(folder, fresh, repetitions, copy);
        const double summedSeconds = BestSeconds(folder, fresh, repetitions, summed);
        if (updateSeconds < 0 || copySeconds < 0 || summedSeconds < 0) {
            std::fprintf(stderr, "engine_bench: the %s failed\n", updateSeconds < 0 ? "update run" : "plain copy");
            status = 1;
            break;
        }
        const char* where = fresh ? "fresh folder" : "over installed files";
        Row("engine: update run", where, bytes, updateSeconds, repetitions);
        Row("engine: plain copy", where, bytes, copySeconds, repetitions);
        Row("engine: plain copy + checksum", where, bytes, summedSeconds, repetitions);
        std::printf("%-*s %8.2f x     time of the update run / plain copy, %s\n", bench::WHAT_WIDTH,
                    "engine: update run / plain copy", updateSeconds / copySeconds, where);
    }
    bench::EmptyFolder(folder);
    return status;
}
