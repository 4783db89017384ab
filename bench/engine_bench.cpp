// The installation engine without its window: the update run extracting and
// verifying a patch into a fresh folder, with and without its flushes, next to
// the plain copy of the same bytes without checksum, with and without the same
// flushes, in the same run, taking turns. Warm cache, best of several runs;
// GB/s is 10^9 bytes of entry data per second.
//   engine_bench BENCH_FOLDER [REPETITIONS]   reads BENCH_FOLDER\patch.exe
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_folders.h"
#include "install/update_run.h"
#include "package/package_index.h"
#include "plain_copy.h"
#include "support/import_hook.h"
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

using Work = std::function<bool()>;

// Best time of each of `works`, into a fresh install folder each time or, with
// `fresh` false, over the files the previous time installed. The works take
// turns, so a busy moment of the machine falls on all of them alike; one
// untimed round first, so the patch and the folder are warm. Empty when one failed.
std::vector<double> BestSeconds(const std::string& folder, bool fresh, int repetitions, const std::vector<Work>& works) {
    std::vector<double> best(works.size(), -1);
    for (int round = -1; round < repetitions; ++round) {
        for (size_t w = 0; w < works.size(); ++w) {
            if ((fresh || round < 0) && !bench::FreshInstallFolder(folder)) return {};
            const double start = bench::Now();
            if (!works[w]()) return {};
            const double took = bench::Now() - start;
            if (round >= 0 && (best[w] < 0 || took < best[w])) best[w] = took;
        }
    }
    return best;
}

// Stands in for FlushFileBuffers to measure the run without its flushes.
BOOL WINAPI NoFlush(HANDLE) { return TRUE; }

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
    const auto unflushed = [&] {
        decltype(&FlushFileBuffers) flush = nullptr;
        if (!testing_support::HookImportAs("kernel32.dll", "FlushFileBuffers", &NoFlush, flush)) return false;
        const bool done = update();
        testing_support::HookImport("kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(flush));
        return done;
    };
    CopyOptions flushed, summed;
    flushed.flush = true;
    summed.checksum = true;
    const std::vector<Work> works = {
        update,
        unflushed,
        [&] { return PlainCopy(patch.c_str(), folder.c_str(), CopyControls{}); },
        [&] { return PlainCopy(patch.c_str(), folder.c_str(), CopyControls{}, flushed); },
        [&] { return PlainCopy(patch.c_str(), folder.c_str(), CopyControls{}, summed); },
    };
    const char* names[] = {"engine: update run", "engine: update run, no flushes", "engine: plain copy",
                           "engine: plain copy + flushes", "engine: plain copy + checksum"};
    int status = 0;
    std::printf("# %-*s %8s\n", bench::WHAT_WIDTH - 2, "what", "figure");
    for (const bool fresh : {true, false}) {
        const std::vector<double> seconds = BestSeconds(folder, fresh, repetitions, works);
        if (seconds.empty()) {
            std::fprintf(stderr, "engine_bench: a run failed\n");
            status = 1;
            break;
        }
        const char* where = fresh ? "fresh folder" : "over installed files";
        for (size_t w = 0; w < works.size(); ++w) Row(names[w], where, bytes, seconds[w], repetitions);
        std::printf("%-*s %8.2f x     time of the update run / plain copy + flushes, %s\n", bench::WHAT_WIDTH,
                    "engine: update run / plain copy", seconds[0] / seconds[3], where);
        std::printf("%-*s %8.3f s     update run with flushes - without, %s\n", bench::WHAT_WIDTH,
                    "engine: cost of the flushes", seconds[0] - seconds[1], where);
    }
    bench::EmptyFolder(folder);
    return status;
}
