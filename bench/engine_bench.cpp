// The installation engine without its window: the update run extracting and
// verifying a patch, with and without its flushes, next to the plain copy of
// the same bytes, bare, with the same flushes, with the checksum, with both,
// and with the checksum, with and without the flushes, making its files as the
// update does, in the same run: the eight in turn, each time into a fresh folder or
// over the files installed before. Warm cache; the figures are medians, ratios and
// differences medians of each turn's. GB/s is 10^9 bytes of entry data per
// second. A second, small patch shows where the run's time goes apart from the
// bytes: the checksum, the flushes and the run's own work, and call by call.
//   engine_bench BENCH_FOLDER [RUNS] [SMALL_PATCH]   reads BENCH_FOLDER\patch.exe
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench_folders.h"
#include "call_tally.h"
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

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

using Work = std::function<bool()>;

// The works measured; TURN_ORDER is the order they take their turns in.
enum WorkId {
    UPDATE,
    UNFLUSHED,
    COPY,
    COPY_FLUSHED,
    COPY_SUMMED,
    COPY_SUMMED_FLUSHED,
    COPY_SUMMED_NEW,
    COPY_SUMMED_FLUSHED_NEW,
    WORK_COUNT
};
const char* const WORK_NAMES[WORK_COUNT] = {"engine: update run", "engine: update run, no flushes",
                                            "engine: plain copy", "engine: plain copy + flushes",
                                            "engine: plain copy + checksum", "engine: copy + checksum + flushes",
                                            "engine: copy + checksum, CREATE_NEW",
                                            "engine: copy + sum + flushes, CREATE_NEW"};

// Over installed files a work also pays for what the one before it left
// unwritten (on ext4 a rename over a file starts the new one's writeback), so works with flushes
// and works without take turns: every two works compared follow the same kind.
const WorkId TURN_ORDER[WORK_COUNT] = {UPDATE, UNFLUSHED, COPY_FLUSHED, COPY_SUMMED, COPY_SUMMED_FLUSHED,
                                       COPY, COPY_SUMMED_FLUSHED_NEW, COPY_SUMMED_NEW};

// seconds[w][turn] of each work.
using Turns = std::vector<std::vector<double>>;

// Every work in turn, `runs` times after one untimed turn, into a fresh folder
// each time or, with `fresh` false, over the files the previous work installed.
// A busy moment of the machine so falls on all of them alike. Empty when one failed.
Turns Alternate(const std::string& folder, bool fresh, int runs, const std::vector<Work>& works) {
    Turns seconds(works.size());
    for (int turn = -1; turn < runs; ++turn) {
        for (const WorkId w : TURN_ORDER) {
            if ((fresh || turn < 0) && !bench::FreshInstallFolder(folder)) return {};
            const double start = bench::Now();
            if (!works[w]()) return {};
            if (turn >= 0) seconds[w].push_back(bench::Now() - start);
        }
    }
    return seconds;
}

double MedianOf(const Turns& t, WorkId w) { return Median(t[w]); }

// The median over the turns of `a / b`, or of `a - b` with `difference`.
double PerTurn(const Turns& t, WorkId a, WorkId b, bool difference) {
    std::vector<double> values;
    for (size_t turn = 0; turn < t[a].size(); ++turn) {
        values.push_back(difference ? t[a][turn] - t[b][turn] : t[a][turn] / t[b][turn]);
    }
    return Median(values);
}

// A patch of less than a megabyte says nothing as a rate: its seconds only.
void Row(const char* what, const char* where, double bytes, double seconds, int runs) {
    if (bytes < 1e6) {
        std::printf("%-*s %8.4f s     for %.0f bytes, %s, median of %d\n", bench::WHAT_WIDTH, what, seconds, bytes,
                    where, runs);
        return;
    }
    std::printf("%-*s %8.2f GB/s  %.4f s for %.1f MB, %s, median of %d\n", bench::WHAT_WIDTH, what,
                bytes / seconds / 1e9, seconds, bytes / 1e6, where, runs);
}

void Ratio(const char* what, const Turns& t, WorkId a, WorkId b, const char* where, const char* note) {
    std::printf("%-*s %8.2f x     %s, %s\n", bench::WHAT_WIDTH, what, PerTurn(t, a, b, false), where, note);
}

void Difference(const char* what, const Turns& t, WorkId a, WorkId b, const char* where, const char* note) {
    std::printf("%-*s %8.4f s     %s, %s\n", bench::WHAT_WIDTH, what, PerTurn(t, a, b, true), note, where);
}

// Stands in for FlushFileBuffers to measure the run without its flushes.
BOOL WINAPI NoFlush(HANDLE) { return TRUE; }

// The eight works on `patch`; progressDialogHandle stays null, so the run skips every control.
std::vector<Work> WorksOn(const std::string& patch, const std::string& folder) {
    const auto update = [patch, folder] {
        return UpdateRunFromPackage(patch.c_str(), folder.c_str()) == UPDATE_OK;
    };
    const auto unflushed = [update] {
        decltype(&FlushFileBuffers) flush = nullptr;
        if (!testing_support::HookImportAs("kernel32.dll", "FlushFileBuffers", &NoFlush, flush)) return false;
        const bool done = update();
        testing_support::HookImport("kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(flush));
        return done;
    };
    const auto copy = [patch, folder](const CopyOptions& options) {
        return [patch, folder, options] {
            return PlainCopy(patch.c_str(), folder.c_str(), ProgressControls{}, options);
        };
    };
    CopyOptions flushed, summed, both;
    flushed.flush = both.flush = true;
    summed.checksum = both.checksum = true;
    CopyOptions summedNew = summed, bothNew = both;
    summedNew.createNew = bothNew.createNew = true;
    return {update,     unflushed,       copy(CopyOptions{}), copy(flushed), copy(summed),
            copy(both), copy(summedNew), copy(bothNew)};
}

// All figures of one patch; false when a run failed.
bool Measure(const std::string& patch, bool large, const std::string& folder, int runs) {
    const double bytes = EntryBytes(patch);
    if (bytes <= 0) {
        std::fprintf(stderr, "engine_bench: %s is no patch\n", patch.c_str());
        return false;
    }
    const std::vector<Work> works = WorksOn(patch, folder);
    for (const bool fresh : {true, false}) {
        const Turns t = Alternate(folder, fresh, runs, works);
        if (t.empty()) {
            std::fprintf(stderr, "engine_bench: a run of %s failed\n", patch.c_str());
            return false;
        }
        char where[96];
        std::snprintf(where, sizeof where, "%s%s", large ? "" : "small patch, ",
                      fresh ? "fresh folder" : "over installed files");
        for (int w = 0; w < WORK_COUNT; ++w) Row(WORK_NAMES[w], where, bytes, MedianOf(t, WorkId(w)), runs);
        const char* target = large ? "median of the turns (target at most 1.10)" : "median of the turns";
        Ratio("engine: update run / copy + flushes", t, UPDATE, COPY_FLUSHED, where, "median of the turns");
        Ratio("engine: update run / copy + sum + flushes", t, UPDATE, COPY_SUMMED_FLUSHED, where, target);
        Ratio("engine: no flushes / copy + checksum", t, UNFLUSHED, COPY_SUMMED, where, target);
        Ratio("engine: update / copy+sum+flush, CREATE_NEW", t, UPDATE, COPY_SUMMED_FLUSHED_NEW, where,
              "median of the turns, files made alike");
        Ratio("engine: no flushes / copy + sum, CREATE_NEW", t, UNFLUSHED, COPY_SUMMED_NEW, where,
              "median of the turns, files made alike");
        Difference("engine: cost of the checksum", t, COPY_SUMMED, COPY, where, "copy + checksum - copy");
        Difference("engine: cost of the flushes", t, UPDATE, UNFLUSHED, where, "update run with flushes - without");
        Difference("engine: the run's own work", t, UNFLUSHED, COPY_SUMMED, where,
                   "update run without flushes - copy + checksum");
    }
    return true;
}

// Where the time of `work` goes, call by call: the mean over `runs` runs into
// a fresh folder of each tallied call's count and time, and of the time
// outside them (the checksum, the code's own work).
bool Breakdown(const char* what, const std::string& folder, int runs, const Work& work) {
    double calls[bench::TALLIED_CALL_COUNT] = {}, seconds[bench::TALLIED_CALL_COUNT] = {};
    double total = 0;
    for (int run = 0; run < runs; ++run) {
        if (!bench::FreshInstallFolder(folder)) return false;
        const double start = bench::Now();
        if (!bench::TallyCalls(work)) return false;
        total += bench::Now() - start;
        for (int c = 0; c < bench::TALLIED_CALL_COUNT; ++c) {
            calls[c] += bench::callTallies[c].calls;
            seconds[c] += bench::callTallies[c].seconds;
        }
    }
    double outside = total;
    char label[96];
    for (int c = 0; c < bench::TALLIED_CALL_COUNT; ++c) {
        outside -= seconds[c];
        if (calls[c] == 0) continue;
        std::snprintf(label, sizeof label, "calls: %s: %s", what, bench::callTallies[c].name);
        std::printf("%-*s %8.3f ms    %5.1f calls a run, small patch, fresh folder, mean of %d\n", bench::WHAT_WIDTH,
                    label, seconds[c] / runs * 1e3, calls[c] / runs, runs);
    }
    std::snprintf(label, sizeof label, "calls: %s: outside these calls", what);
    std::printf("%-*s %8.3f ms    of %.3f ms in all, small patch, fresh folder, mean of %d\n", bench::WHAT_WIDTH,
                label, outside / runs * 1e3, total / runs * 1e3, runs);
    return true;
}

// The update run against the plain copy with the same flushes, on the small patch.
bool BreakdownOf(const std::string& patch, const std::string& folder, int runs) {
    const std::vector<Work> works = WorksOn(patch, folder);
    return Breakdown("update run", folder, runs, works[UPDATE]) &&
           Breakdown("copy + flushes", folder, runs, works[COPY_FLUSHED]);
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions =
        bench::RepetitionsArgument(argc, argv, DEFAULT_REPETITIONS, "engine_bench BENCH_FOLDER [RUNS] [SMALL_PATCH]");
    if (repetitions < 1) return 2;
    const std::string benchFolder = argv[1];
    const std::string folder = benchFolder + "\\engine";
    std::printf("# %-*s %8s\n", bench::WHAT_WIDTH - 2, "what", "figure");
    bool measured = Measure(benchFolder + "\\patch.exe", true, folder, repetitions);
    if (measured && argc > 3) {
        const std::string small = benchFolder + "\\" + argv[3];
        measured = Measure(small, false, folder, repetitions) && BreakdownOf(small, folder, repetitions);
    }
    bench::EmptyFolder(folder);
    return measured ? 0 : 1;
}
