// The whole update as a user sees it, next to the plain copy with the same
// dialog, in the same run under the same Wine. The patch is started as a
// program: its question is answered Yes and its success box OK, the way a user
// would, and timed from the answer to the success box. The plain copier shows
// the same boxes and is timed the same way; it also runs without any dialog.
// Best of several runs. The peak working set of each program, and its peak
// private memory, are read when its success box appears, the copy then being
// done: the largest of all runs. Under Wine the working set includes every
// library Wine maps, and the private memory is its peak pagefile usage (the
// memory a program has written, its own and that of Wine's heaps in it).
//   update_bench BENCH_FOLDER [REPETITIONS] [LARGER_PATCH...]
// BENCH_FOLDER holds patch.exe; BENCH_FOLDER\game becomes
// the install folder the registry names. plain_copier.exe is found beside this
// program. Each LARGER_PATCH (a file name in BENCH_FOLDER) is run once more into
// a fresh install folder, for its peak working set. Besides Wine's figures,
// the working set as Windows counts it is read by working_set_probe.dll (found
// beside this program), loaded into one update, one plain copy with dialog and
// each larger update when its question appears.
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <set>
#include <string>

#include "bench_folders.h"
#include "support/installed_game.h"
#include "support/window_watch.h"
#include "ui/portable/texts.h"
#include "working_set_probe.h"

namespace {

constexpr int DEFAULT_REPETITIONS = 15;
// How often the program's windows are looked for; the same while the copier runs.
constexpr DWORD POLL_MS = 5;
constexpr DWORD RUN_TIMEOUT_MS = 10 * 60 * 1000;
constexpr DWORD PROBE_TIMEOUT_MS = 30 * 1000;

struct RunTimes {
    bool ok = false;
    double startToExit = 0;
    double consentToSuccess = 0;   // not for the copier without dialog, which asks nothing
    double inProcess = 0;          // the copier only: its own measure
    SIZE_T peakWorkingSet = 0;     // bytes, when the success box appeared
    SIZE_T peakPrivate = 0;        // bytes of its own memory (Wine: its peak pagefile usage), then
    std::size_t probedPeak = 0;    // the probe's largest count of resident pages, in bytes
    std::size_t probedImages = 0;  // of them, in images
    std::size_t probedMapped = 0;  // in mapped files
};

// The probe's report in a program, and its events (working_set_probe.h).
struct Probe {
    HANDLE mapping = nullptr;
    HANDLE ready = nullptr, stop = nullptr, stopped = nullptr;
    bench::WorkingSetReport* report = nullptr;
    bool loaded = false;
    ~Probe() {
        if (report) UnmapViewOfFile(report);
        for (HANDLE handle : {mapping, ready, stop, stopped}) {
            if (handle) CloseHandle(handle);
        }
    }
};

// Loads `dll` into the program (LoadLibraryA run by a thread of its own) and
// waits for the probe's first sample.
bool LoadProbe(const PROCESS_INFORMATION& process, const std::string& dll, Probe& probe) {
    bench::WorkingSetProbeNames names;
    if (!bench::NameWorkingSetProbe(process.dwProcessId, names)) return false;
    probe.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       sizeof(bench::WorkingSetReport), names.report);
    probe.ready = CreateEventA(nullptr, TRUE, FALSE, names.ready);
    probe.stop = CreateEventA(nullptr, TRUE, FALSE, names.stop);
    probe.stopped = CreateEventA(nullptr, TRUE, FALSE, names.stopped);
    if (!probe.mapping || !probe.ready || !probe.stop || !probe.stopped) return false;
    probe.report = static_cast<bench::WorkingSetReport*>(MapViewOfFile(probe.mapping, FILE_MAP_READ, 0, 0, 0));
    void* remotePath = VirtualAllocEx(process.hProcess, nullptr, dll.size() + 1, MEM_RESERVE | MEM_COMMIT,
                                      PAGE_READWRITE);
    if (!probe.report || !remotePath ||
        !WriteProcessMemory(process.hProcess, remotePath, dll.c_str(), dll.size() + 1, nullptr)) {
        return false;
    }
    // kernel32 lies at the same address in every process of a session.
    const auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    HANDLE thread = CreateRemoteThread(process.hProcess, nullptr, 0, loadLibrary, remotePath, 0, nullptr);
    if (!thread) return false;
    DWORD module = 0;
    const bool ran = WaitForSingleObject(thread, PROBE_TIMEOUT_MS) == WAIT_OBJECT_0 &&
                     GetExitCodeThread(thread, &module) && module != 0;
    CloseHandle(thread);
    if (ran) VirtualFreeEx(process.hProcess, remotePath, 0, MEM_RELEASE);
    probe.loaded = ran && WaitForSingleObject(probe.ready, PROBE_TIMEOUT_MS) == WAIT_OBJECT_0;
    return probe.loaded;
}

// Before the program may end (working_set_probe.h).
bool StopProbe(const Probe& probe) {
    return SetEvent(probe.stop) && WaitForSingleObject(probe.stopped, PROBE_TIMEOUT_MS) == WAIT_OBJECT_0;
}

void Click(HWND box, int id) {
    if (HWND button = GetDlgItem(box, id)) PostMessageA(button, BM_CLICK, 0, 0);
}

struct BoxAnswers {
    double consentAt = 0;
    double successAt = 0;
    PROCESS_MEMORY_COUNTERS memory = {};
    bool unexpected = false;
};

PROCESS_MEMORY_COUNTERS MemoryOf(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return PROCESS_MEMORY_COUNTERS{};
    return counters;
}

// Answers the consent question Yes, the probe loaded first if `probeDll` is
// given, and the success box OK; any other box is a failure.
void AnswerNewBoxes(const PROCESS_INFORMATION& process, const std::string& probeDll, Probe& probe,
                    std::set<HWND>& answered, BoxAnswers& answers) {
    for (HWND window : e2e::VisibleDialogsOf(process.dwProcessId)) {
        HWND textControl = GetDlgItem(window, e2e::MESSAGE_BOX_TEXT_ID);
        if (answered.count(window) || !textControl) continue;
        const double seen = bench::Now();
        const std::string text = testing_support::WindowText(textControl);
        answered.insert(window);
        if (text == TEXT_CONSENT) {
            answers.consentAt = seen;
            if (!probeDll.empty()) {
                if (!LoadProbe(process, probeDll, probe)) answers.unexpected = true;
                answers.consentAt = bench::Now();
            }
            Click(window, IDYES);
        } else {
            if (text == TEXT_SUCCESS) {
                answers.successAt = seen;
                answers.memory = MemoryOf(process.hProcess);
                if (probe.loaded && !StopProbe(probe)) answers.unexpected = true;
            } else {
                answers.unexpected = true;
            }
            Click(window, IDOK);
        }
    }
    // A gone box's handle may come back for the next one.
    for (auto it = answered.begin(); it != answered.end();) it = IsWindow(*it) ? std::next(it) : answered.erase(it);
}

// Starts `program`, answers its boxes while polling for them, and waits for its
// end; with `probeDll`, its working set is sampled from its question on.
RunTimes RunProgram(const std::string& program, const std::string& commandLine, const std::string& probeDll) {
    RunTimes times;
    PROCESS_INFORMATION process;
    const double start = bench::Now();
    if (!testing_support::StartProgram(program, commandLine, process)) return times;
    std::set<HWND> answered;
    BoxAnswers answers;
    Probe probe;
    bool ended = false;
    while (!ended) {
        ended = WaitForSingleObject(process.hProcess, POLL_MS) == WAIT_OBJECT_0;
        if (!ended) AnswerNewBoxes(process, probeDll, probe, answered, answers);
        if (bench::Now() - start > RUN_TIMEOUT_MS / 1000.0) {
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, INFINITE);
            break;
        }
    }
    times.startToExit = bench::Now() - start;
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    times.ok = ended && code == 0 && !answers.unexpected && probe.loaded == !probeDll.empty();
    if (probe.loaded) {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        const bench::WorkingSetCount& peak = probe.report->slots[probe.report->peak & 1];
        times.probedPeak = static_cast<std::size_t>(peak.pages) * system.dwPageSize;
        times.probedImages = static_cast<std::size_t>(peak.imagePages) * system.dwPageSize;
        times.probedMapped = static_cast<std::size_t>(peak.mappedPages) * system.dwPageSize;
    }
    times.peakWorkingSet = answers.memory.PeakWorkingSetSize;
    times.peakPrivate = answers.memory.PeakPagefileUsage;
    if (answers.consentAt > 0 && answers.successAt > answers.consentAt) {
        times.consentToSuccess = answers.successAt - answers.consentAt;
    }
    return times;
}

RunTimes RunUpdater(const std::string& patch, const std::string& probeDll = "") {
    RunTimes times = RunProgram(patch, "\"" + patch + "\"", probeDll);
    times.ok = times.ok && times.consentToSuccess > 0;
    return times;
}

double ReadSeconds(const std::string& path) {
    double seconds = -1;
    if (FILE* in = std::fopen(path.c_str(), "r")) {
        if (std::fscanf(in, "%lf", &seconds) != 1) seconds = -1;
        std::fclose(in);
    }
    return seconds;
}

RunTimes RunCopier(const std::string& copier, const std::string& patch, const std::string& folder,
                   const std::string& timeFile, bool withDialog, const std::string& probeDll = "") {
    DeleteFileA(timeFile.c_str());
    std::string commandLine = "\"" + copier + "\" \"" + patch + "\" \"" + folder + "\" \"" + timeFile + "\"";
    if (!withDialog) commandLine += " --no-dialog";
    RunTimes times = RunProgram(copier, commandLine, probeDll);
    times.inProcess = ReadSeconds(timeFile);
    times.ok = times.ok && times.inProcess > 0 && (!withDialog || times.consentToSuccess > 0);
    return times;
}

std::string OwnFolder() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\'));
}

struct Best {
    RunTimes update, copier, bare;
};

void KeepLower(double& best, double value) {
    if (best == 0 || value < best) best = value;
}

void KeepLower(RunTimes& best, const RunTimes& run) {
    KeepLower(best.startToExit, run.startToExit);
    KeepLower(best.consentToSuccess, run.consentToSuccess);
    KeepLower(best.inProcess, run.inProcess);
    if (run.peakWorkingSet > best.peakWorkingSet) best.peakWorkingSet = run.peakWorkingSet;
    if (run.peakPrivate > best.peakPrivate) best.peakPrivate = run.peakPrivate;
}

void MemoryRow(const char* what, SIZE_T bytes, const char* note) {
    std::printf("%-*s %8.2f MiB   %s\n", bench::WHAT_WIDTH, what, bytes / 1048576.0, note);
}

// The peak working set as Windows counts it, in KiB to show small differences.
void ProbedRow(const std::string& what, const RunTimes& run) {
    std::printf("%-*s %8zu KiB   peak, probed run: images %zu, mapped files %zu, private %zu KiB\n", bench::WHAT_WIDTH,
                (what + ": Windows working set").c_str(), run.probedPeak / 1024, run.probedImages / 1024,
                run.probedMapped / 1024, (run.probedPeak - run.probedImages - run.probedMapped) / 1024);
}

void Row(const char* what, double seconds, const char* note) {
    std::printf("%-*s %8.3f s     %s\n", bench::WHAT_WIDTH, what, seconds, note);
}

void Ratio(const char* what, double ratio, const char* note) {
    std::printf("%-*s %8.2f x     %s\n", bench::WHAT_WIDTH, what, ratio, note);
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = bench::RepetitionsArgument(argc, argv, DEFAULT_REPETITIONS,
                                                       "update_bench BENCH_FOLDER [REPETITIONS] [LARGER_PATCH...]");
    if (repetitions < 1) return 2;
    const std::string patch = std::string(argv[1]) + "\\patch.exe";
    const std::string game = std::string(argv[1]) + "\\game";
    const std::string timeFile = std::string(argv[1]) + "\\copier-time.txt";
    const std::string copier = OwnFolder() + "\\plain_copier.exe";
    const std::string probeDll = OwnFolder() + "\\working_set_probe.dll";
    if (!bench::FreshInstallFolder(game) || !testing_support::RegisterInstallFolder(game)) {
        std::fprintf(stderr, "update_bench: cannot prepare %s\n", game.c_str());
        return 1;
    }
    // The first update installs the files, which every later run replaces;
    // it also brings the patch, the programs and Wine's libraries into memory.
    if (!RunUpdater(patch).ok) {
        std::fprintf(stderr, "update_bench: the first update of %s failed\n", game.c_str());
        return 1;
    }
    Best best;
    for (int i = 0; i < repetitions; ++i) {
        const RunTimes update = RunUpdater(patch);
        const RunTimes copy = RunCopier(copier, patch, game, timeFile, true);
        const RunTimes bare = RunCopier(copier, patch, game, timeFile, false);
        if (!update.ok || !copy.ok || !bare.ok) {
            std::fprintf(stderr, "update_bench: the %s failed\n", !update.ok ? "update" : "plain copy");
            return 1;
        }
        KeepLower(best.update, update);
        KeepLower(best.copier, copy);
        KeepLower(best.bare, bare);
    }

    char note[96];
    std::snprintf(note, sizeof note, "best of %d", repetitions);
    std::printf("# %-*s %8s\n", bench::WHAT_WIDTH - 2, "what", "figure");
    Row("update: consent answered to success box", best.update.consentToSuccess, note);
    Row("update: process start to exit", best.update.startToExit, note);
    Row("plain copy, dialog: consent to success box", best.copier.consentToSuccess, note);
    Row("plain copy, dialog: process start to exit", best.copier.startToExit, note);
    Row("plain copy, dialog: dialog created to ended", best.copier.inProcess, "measured by the copier");
    Row("plain copy, no dialog: process start to exit", best.bare.startToExit, note);
    Row("plain copy, no dialog: copy alone", best.bare.inProcess, "measured by the copier");
    Ratio("update / plain copy", best.update.consentToSuccess / best.copier.consentToSuccess,
          "consent to success box, both");
    Ratio("update / plain copy, processes", best.update.startToExit / best.copier.startToExit,
          "process start to exit, both");
    std::printf("%-*s %8.0f %%     of the plain copy with dialog (dialog to end)\n", bench::WHAT_WIDTH,
                "dialog share of the plain copy", 100 * (1 - best.bare.inProcess / best.copier.inProcess));
    MemoryRow("update: peak working set", best.update.peakWorkingSet, "largest of the runs, Wine's own included");
    MemoryRow("plain copy, dialog: peak working set", best.copier.peakWorkingSet, "the same, for comparison");
    MemoryRow("update: peak private memory", best.update.peakPrivate, "largest of the runs, Wine's heaps included");
    MemoryRow("plain copy, dialog: peak private memory", best.copier.peakPrivate, "the same, for comparison");
    const RunTimes probedUpdate = RunUpdater(patch, probeDll);
    const RunTimes probedCopy = RunCopier(copier, patch, game, timeFile, true, probeDll);
    DeleteFileA(timeFile.c_str());
    if (!probedUpdate.ok || !probedCopy.ok) {
        std::fprintf(stderr, "update_bench: the probed %s failed\n", !probedUpdate.ok ? "update" : "plain copy");
        return 1;
    }
    ProbedRow("update", probedUpdate);
    ProbedRow("plain copy, dialog", probedCopy);
    for (int i = 3; i < argc; ++i) {
        const std::string larger = std::string(argv[1]) + "\\" + argv[i];
        // Wine's figures from a run without the probe, whose thread and stack they would include.
        const RunTimes run = bench::FreshInstallFolder(game) ? RunUpdater(larger) : RunTimes();
        const RunTimes probed = run.ok && bench::FreshInstallFolder(game) ? RunUpdater(larger, probeDll) : RunTimes();
        if (!probed.ok) {
            std::fprintf(stderr, "update_bench: the update of %s failed\n", larger.c_str());
            return 1;
        }
        const std::string update = std::string("update of ") + argv[i];
        MemoryRow((update + ": peak working set").c_str(), run.peakWorkingSet, "one run, fresh folder");
        MemoryRow((update + ": peak private memory").c_str(), run.peakPrivate, "the same run");
        ProbedRow(update, probed);
    }
    bench::FreshInstallFolder(game);
    return 0;
}
