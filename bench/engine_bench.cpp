// The installation engine without its window: the update run extracting and
// verifying a patch, next to the plain copy of the same bytes without and with
// the checksum, in the same run: the three in turn, each time into a fresh
// folder or over the files installed before. Warm cache; the figures are
// medians, the ratios medians of each turn's ratio. GB/s is 10^9 bytes of
// entry data per second. A second, small patch shows the run's cost per run
// and per file apart from the bytes.
//   engine_bench BENCH_FOLDER [RUNS] [SMALL_PATCH]   reads BENCH_FOLDER\patch.exe
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Seconds of one `work`, into a fresh folder or over what stands there; negative when it failed.
template <typename Work>
double Seconds(const std::string& folder, bool fresh, Work work) {
    if (fresh && !bench::FreshInstallFolder(folder)) return -1;
    const double start = bench::Now();
    if (!work()) return -1;
    return bench::Now() - start;
}

struct Turns {
    double update = -1, copy = -1, summed = -1;  // medians, seconds
    double overCopy = -1, overSummed = -1;       // medians of the turns' ratios
};

// The update run, the plain copy and the copy with checksum in turn, `runs`
// times after one untimed turn.
template <typename Update, typename Copy, typename Summed>
Turns Alternate(const std::string& folder, bool fresh, int runs, Update update, Copy copy, Summed summed) {
    std::vector<double> u, c, s, overCopy, overSummed;
    if (!bench::FreshInstallFolder(folder) || !update()) return Turns();
    for (int i = 0; i < runs; ++i) {
        const double tu = Seconds(folder, fresh, update), tc = Seconds(folder, fresh, copy);
        const double ts = Seconds(folder, fresh, summed);
        if (tu < 0 || tc < 0 || ts < 0) return Turns();
        u.push_back(tu);
        c.push_back(tc);
        s.push_back(ts);
        overCopy.push_back(tu / tc);
        overSummed.push_back(tu / ts);
    }
    return {Median(u), Median(c), Median(s), Median(overCopy), Median(overSummed)};
}

void Row(const char* what, const char* where, double bytes, double seconds, int runs) {
    std::printf("%-*s %8.2f GB/s  %.4f s for %.1f MB, %s, median of %d\n", bench::WHAT_WIDTH, what,
                bytes / seconds / 1e9, seconds, bytes / 1e6, where, runs);
}

void Ratio(const char* what, double ratio, const char* where, const char* note) {
    std::printf("%-*s %8.2f x     %s, %s\n", bench::WHAT_WIDTH, what, ratio, where, note);
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
    const std::string small = argc > 3 ? std::string(argv[1]) + "\\" + argv[3] : "";
    int status = 0;
    std::printf("# %-*s %8s\n", bench::WHAT_WIDTH - 2, "what", "figure");
    for (const std::string& which : {patch, small}) {
        if (which.empty()) continue;
        const bool large = which == patch;
        const double entryBytes = large ? bytes : EntryBytes(which);
        // progressDialogHandle stays null: the run skips every control.
        const auto update = [&] { return UpdateRunFromPackage(which.c_str(), folder.c_str()) == UPDATE_OK; };
        const auto copy = [&] { return PlainCopy(which.c_str(), folder.c_str(), CopyControls{}); };
        const auto summed = [&] { return PlainCopy(which.c_str(), folder.c_str(), CopyControls{}, true); };
        for (const bool fresh : {true, false}) {
            const Turns t = Alternate(folder, fresh, repetitions, update, copy, summed);
            if (t.update < 0) {
                std::fprintf(stderr, "engine_bench: a run of %s failed\n", which.c_str());
                status = 1;
                break;
            }
            char where[96];
            std::snprintf(where, sizeof where, "%s%s", large ? "" : "small patch, ",
                          fresh ? "fresh folder" : "over installed files");
            Row("engine: update run", where, entryBytes, t.update, repetitions);
            Row("engine: plain copy", where, entryBytes, t.copy, repetitions);
            Row("engine: plain copy + checksum", where, entryBytes, t.summed, repetitions);
            Ratio("engine: update run / plain copy", t.overCopy, where, "median of the turns");
            Ratio("engine: update run / copy + checksum", t.overSummed, where,
                  large ? "median of the turns (target at most 1.10)" : "median of the turns");
            std::printf("%-*s %8.4f s     update run - copy + checksum, %s\n", bench::WHAT_WIDTH,
                        "engine: the run's own work", t.update - t.summed, where);
        }
    }
    bench::EmptyFolder(folder);
    return status;
}
