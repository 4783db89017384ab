// The real updater killed while it extracts: at seeded points chosen by where the
// two progress bars stand, the test terminates the process (as a power cut or
// the task manager would end it). The installed files must be as before; a
// second run must complete with UPDATE_OK and leave no ".tmp" behind.
// The commit does not pump messages, so no bar tells where it stands: there the
// update run ends itself at a seeded step of its renames or list rewrites
// (sundrift-kill-harness). Every name must then hold its old or its new file,
// and a second run of the real updater must leave what one whole run leaves.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "entry/program_names.h"
#include "install/uninstall_list.h"
#include "package/portable/package_format.h"
#include "package/portable/update_result.h"
#include "support/folder_snapshot.h"
#include "support/installed_game.h"
#include "support/package_builder.h"
#include "support/reliability_tally.h"
#include "support/watched_install.h"
#include "support/win_files.h"
#include "support/window_names.h"
#include "support/window_watch.h"
#include "ui/portable/texts.h"
#include "ui/resource_ids.h"

using namespace testing_support;

namespace {

constexpr uint32_t DEFAULT_SEED = 0x7E4A1A7E;
constexpr uint32_t POINTS = 20;
constexpr uint32_t LONG_POINTS = 100;
constexpr uint32_t MIB = 1024 * 1024;
constexpr DWORD RUN_TIMEOUT_MS = 120000;
constexpr UINT KILLED_EXIT_CODE = 0xDEAD;
constexpr uint32_t FILE_BAR_TOP = 0xFFFF;
constexpr uint32_t COMMIT_POINTS = 20;
constexpr uint32_t LONG_COMMIT_POINTS = 100;
constexpr DWORD HARNESS_KILLED = 0xDEAD;  // the harness's exit code when it ended itself
constexpr char NO_KILL[] = "0xFFFFFFFF";

Bytes Generated(uint32_t size, uint32_t seed) { return GeneratedBytes(size, seed, 3); }

// The bar's position, asked across the process boundary; the updater answers
// from its message pump, between chunks.
bool BarPosition(HWND dialog, int id, uint32_t& position) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(GetDlgItem(dialog, id), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer)) return false;
    position = static_cast<uint32_t>(answer);
    return true;
}

// Where to kill: once the total bar has passed `entry`, or stands at it with the
// file bar at `filePosition` or beyond.
struct KillPoint {
    uint32_t entry = 0;
    uint32_t filePosition = 0;
};

struct Drive {
    bool finished = false;
    bool killed = false;
    DWORD exitCode = 0;
    uint32_t totalAtKill = 0, fileAtKill = 0;
};

// Starts the patch, says Yes to the consent question and OK to every other box;
// with a kill point, terminates the process there once the dialog is up.
Drive DriveUpdater(const std::string& patch, const KillPoint* kill) {
    Drive drive;
    PROCESS_INFORMATION process;
    if (!StartProgram(patch, "\"" + patch + "\"", process)) return drive;
    std::set<HWND> answered;
    HWND dialog = nullptr;  // once seen, watched without pause: the updater may be fast
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(process.hProcess, dialog ? 0 : 5) != WAIT_OBJECT_0) {
        if (GetTickCount() - start > RUN_TIMEOUT_MS) {
            TerminateProcess(process.hProcess, KILLED_EXIT_CODE);
            break;
        }
        if (dialog) {
            uint32_t total = 0, file = 0;
            if (!BarPosition(dialog, IDC_TOTAL_PROGRESS, total) || !BarPosition(dialog, IDC_FILE_PROGRESS, file)) {
                continue;
            }
            if (total > kill->entry || (total == kill->entry && file >= kill->filePosition)) {
                TerminateProcess(process.hProcess, KILLED_EXIT_CODE);
                drive.killed = true;
                drive.totalAtKill = total;
                drive.fileAtKill = file;
                break;
            }
            continue;
        }
        for (HWND window : e2e::VisibleDialogsOf(process.dwProcessId)) {
            if (HWND text = GetDlgItem(window, e2e::MESSAGE_BOX_TEXT_ID)) {
                if (answered.insert(window).second) {
                    const int button = WindowText(text) == TEXT_CONSENT ? IDYES : IDOK;
                    PostMessageA(GetDlgItem(window, button), BM_CLICK, 0, 0);
                }
            } else if (kill && GetDlgItem(window, IDC_TOTAL_PROGRESS)) {
                dialog = window;
            }
        }
    }
    WaitForSingleObject(process.hProcess, 10000);
    drive.finished = !drive.killed;
    GetExitCodeProcess(process.hProcess, &drive.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return drive;
}

// Runs the update of `patch` into `install` in the harness, ended before commit
// step `step`; the steps it reached go to `trace`. The exit code, or ~0 when it
// could not start or did not end.
DWORD RunHarness(const std::string& patch, const std::string& install, const std::string& step,
                 const std::string& trace) {
    const std::string program = BinFolder() + "\\sundrift-kill-harness.exe";
    const std::string commandLine =
        "\"" + program + "\" \"" + patch + "\" \"" + install + "\" " + step + " \"" + trace + "\"";
    PROCESS_INFORMATION process;
    if (!StartProgram(program, commandLine, process)) return ~DWORD{0};
    DWORD exitCode = ~DWORD{0};
    if (WaitForSingleObject(process.hProcess, RUN_TIMEOUT_MS) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &exitCode);
    TerminateProcess(process.hProcess, KILLED_EXIT_CODE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return exitCode;
}

std::vector<std::string> Lines(const Bytes& text) {
    std::vector<std::string> lines;
    std::string line;
    for (const uint8_t c : text) {
        if (c != '\n') {
            line += static_cast<char>(c);
        } else {
            lines.push_back(line), line.clear();
        }
    }
    return lines;
}

FolderSnapshot WithoutTemporaryFiles(const FolderSnapshot& snapshot) {
    FolderSnapshot rest;
    for (const auto& item : snapshot) {
        if (!EndsWith(item.first, ".tmp")) rest[item.first] = item.second;
    }
    return rest;
}

class Termination : public ::testing::Test {
protected:
    void SetUp() override {
        install_ = root_ / "game";
        ASSERT_TRUE(CreateDirectoryA(install_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((root_ / "outside").c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(root_ / "outside\\a.arc", BytesOf("outside a")));
        ASSERT_TRUE(WriteWholeFile(root_ / "parent.bin", BytesOf("beside the install folder")));

        // The installed game, and the files that replace it; the new one comes last
        // and is long, so that a kill on its first half still lands before the commit.
        const std::vector<std::pair<std::string, uint32_t>> sizes = {
            {"a.arc", 3 * MIB / 2}, {"b.arc", 5 * MIB / 2}, {"c.arc", MIB / 2 + 3}, {"new.arc", 12 * MIB + 1}};
        std::vector<TestEntry> oldFiles;
        std::vector<TestRecord> newRecords;
        std::string lines = "KVX.hvl\n";
        uint32_t seed = 1;
        for (const auto& file : sizes) {
            const Bytes fresh = Generated(file.second, seed++);
            newFiles_.push_back({file.first, fresh});
            newRecords.push_back({file.first, ChecksumOf(fresh)});
            if (file.first == "new.arc") continue;
            oldFiles.push_back({file.first, Generated(1000 + seed * 77, 100 + seed)});
            lines += file.first + "\n";
        }
        newList_ = HashValueListBytes(newRecords);
        expectedUninstall_ = BytesOf(lines + "new.arc\n");
        expectedUninstall_.push_back(0);

        std::vector<TestEntry> entries = {{"KVX.hvl", newList_}};
        for (const TestEntry& file : newFiles_) entries.push_back(file);
        entryCount_ = static_cast<uint32_t>(entries.size());
        patch_ = packageFolder_ / "patch.exe";
        WritePatch(entries, patch_);

        UnregisterGame();
        ASSERT_TRUE(InstallGame(install_, oldFiles, lines));
        baseline_ = TakeFolderSnapshot(root_.Path());
    }

    void TearDown() override { UnregisterGame(); }

    // The real updater with `entries` as its package.
    static void WritePatch(const std::vector<TestEntry>& entries, const std::string& path) {
        Bytes patch = ReadWholeFile(BinFolder() + "\\sundrift-updater.exe");
        ASSERT_FALSE(patch.empty());
        ASSERT_LE(patch.size(), PACKAGE_OFFSET);
        const Bytes package = PackageBytes(entries);
        patch.resize(PACKAGE_OFFSET, 0);
        patch.insert(patch.end(), package.begin(), package.end());
        ASSERT_TRUE(WriteWholeFile(path, patch));
    }

    // A game of 20 files, and a patch of 32 small entries (its list, those 20
    // replaced and 11 new), so that the commit takes many steps. A file the
    // patch does not name stays beside them.
    void InstallSmallGame() {
        RemoveTree(install_);
        ASSERT_TRUE(CreateDirectoryA(install_.c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(install_ + "\\keep.dat", BytesOf("not in the patch")));
        std::vector<TestRecord> newRecords = {{"gone.arc", Bytes(8, 1)}};
        std::vector<TestEntry> entries(1), oldFiles;
        std::string lines = "KVX.hvl\n";
        for (uint32_t i = 0; i + 1 < PACKAGE_MAX_ENTRIES; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "f%02u.arc", i);
            entries.push_back({name, Generated(100 + i * 37, 500 + i)});
            newRecords.push_back({name, ChecksumOf(entries.back().data)});
            if (i >= 20) continue;
            oldFiles.push_back({name, Generated(50 + i, 900 + i)});
            lines += std::string(name) + "\n";
        }
        entries[0] = {"KVX.hvl", HashValueListBytes(newRecords)};
        ASSERT_TRUE(InstallGame(install_, oldFiles, lines));
        for (const TestEntry& entry : entries) smallEntries_.push_back({entry.name, entry.data});
        smallPatch_ = packageFolder_ / "small.exe";
        WritePatch(entries, smallPatch_);
        baseline_ = TakeFolderSnapshot(root_.Path());
    }

    // What a complete update leaves: the new files, the new list (every file it
    // names is present), the uninstaller's list with the one new name.
    std::string CompletedProblems(const FolderSnapshot& after) const {
        FolderSnapshot expected = baseline_;
        for (const TestEntry& file : newFiles_) {
            expected[SnapshotKey("game\\" + file.name)] = SnapshotItem{"game\\" + file.name, file.data, 0};
        }
        expected[SnapshotKey("game\\KVX.hvl")] = SnapshotItem{"game\\KVX.hvl", newList_, 0};
        expected[SnapshotKey("game\\uninst.lst")] = SnapshotItem{"game\\uninst.lst", expectedUninstall_, 0};
        FolderSnapshot now = after;
        for (auto& item : now) {
            if (!IsFolder(item.second)) item.second.attributes = 0;
        }
        for (auto& item : expected) {
            if (!IsFolder(item.second)) item.second.attributes = 0;
        }
        return now == expected ? "" : DescribeDifference(expected, now);
    }

    TempFolder root_{"kill"};
    TempFolder packageFolder_{"kill-pkg"};
    std::string install_, patch_;
    std::vector<TestEntry> newFiles_;
    Bytes newList_, expectedUninstall_;
    uint32_t entryCount_ = 0;
    FolderSnapshot baseline_;
    std::string smallPatch_;
    std::vector<NamedEntry> smallEntries_;
};

TEST_F(Termination, KilledDuringExtractionTheGameIsUntouchedAndASecondRunCompletes) {
    const uint32_t seed = TestSeed(DEFAULT_SEED);
    std::mt19937 rng(seed);
    const uint32_t points = LongRun() ? LONG_POINTS : POINTS;
    ReliabilityTally tally("updater process terminated during extraction");
    uint32_t temporaryFilesLeftByKills = 0;
    for (uint32_t p = 0; p < points; ++p) {
        KillPoint kill;
        kill.entry = rng() % entryCount_;
        const uint32_t reach = kill.entry + 1 == entryCount_ ? FILE_BAR_TOP / 2 : FILE_BAR_TOP;
        kill.filePosition = rng() % reach;
        char label[160];
        std::snprintf(label, sizeof label, "seed %u point %u (entry %u, file bar %u)", seed, p, kill.entry,
                      kill.filePosition);
        SCOPED_TRACE(label);

        const Drive killed = DriveUpdater(patch_, &kill);
        ASSERT_TRUE(killed.killed) << "the updater ended before the kill point (exit " << killed.exitCode << ")";
        ASSERT_LT(killed.totalAtKill, entryCount_) << "the kill came after the extraction";
        const FolderSnapshot afterKill = TakeFolderSnapshot(root_.Path());
        temporaryFilesLeftByKills += static_cast<uint32_t>(TemporaryFiles(afterKill).size());
        const bool untouched = WithoutTemporaryFiles(afterKill) == baseline_;
        EXPECT_TRUE(untouched) << DescribeDifference(baseline_, WithoutTemporaryFiles(afterKill));

        const Drive second = DriveUpdater(patch_, nullptr);
        EXPECT_TRUE(second.finished);
        EXPECT_EQ(second.exitCode, UPDATE_OK);
        const FolderSnapshot afterSecond = TakeFolderSnapshot(root_.Path());
        const std::string completed = CompletedProblems(afterSecond);
        EXPECT_EQ(completed, "");
        EXPECT_TRUE(TemporaryFiles(afterSecond).empty());

        const bool kept = untouched && second.finished && second.exitCode == UPDATE_OK && completed.empty();
        kept ? tally.Survived() : tally.Lost();
        tally.Outcome("killed at entry " + std::to_string(killed.totalAtKill));
        ASSERT_TRUE(RestoreFolder(root_.Path(), baseline_));
    }
    tally.Report(seed, std::to_string(points) + " kill points, " + std::to_string(temporaryFilesLeftByKills) +
                           " .tmp files left by the kills and cleared by the second runs");
}

// The phase of the commit a traced step belongs to: the renames until the
// installed list is opened, then its rewrite until the uninstaller's list is,
// then that one's rewrite. A commit that moved every file ends the run: no
// step follows the last rename.
std::vector<std::string> CommitPhases(const std::vector<std::string>& steps) {
    std::vector<std::string> phases;
    std::string phase = "renames";
    for (const std::string& step : steps) {
        if (step == "create KVX.hvl") phase = "KVX.hvl rewrite";
        if (step == "create uninst.lst") phase = "uninst.lst rewrite";
        phases.push_back(phase);
        if (step.rfind("move " + std::string(UNINSTALL_LIST_SCRATCH_NAME) + ">", 0) == 0) phase = "after the commit";
    }
    return phases;
}

TEST_F(Termination, KilledDuringTheCommitEveryNameIsWholeAndASecondRunCompletes) {
    InstallSmallGame();
    // What one whole run of the real updater leaves.
    const Drive whole = DriveUpdater(smallPatch_, nullptr);
    ASSERT_TRUE(whole.finished);
    ASSERT_EQ(whole.exitCode, UPDATE_OK);
    const FolderSnapshot completed = TakeFolderSnapshot(root_.Path());
    ASSERT_TRUE(RestoreFolder(root_.Path(), baseline_));
    // The steps of the commit, from a run of the harness that is not ended.
    const std::string trace = packageFolder_ / "trace.txt";
    ASSERT_EQ(RunHarness(smallPatch_, install_, NO_KILL, trace), UPDATE_OK);
    ASSERT_EQ(DescribeDifference(completed, TakeFolderSnapshot(root_.Path())), " none") << "the harness runs as the updater";
    const std::vector<std::string> steps = Lines(ReadWholeFile(trace));
    const std::vector<std::string> phases = CommitPhases(steps);
    std::map<std::string, std::vector<uint32_t>> stepsOf;
    for (uint32_t k = 0; k < steps.size(); ++k) stepsOf[phases[k]].push_back(k);
    ASSERT_EQ(stepsOf.size(), 3u) << "renames, both lists rewritten, and nothing after";
    ASSERT_TRUE(RestoreFolder(root_.Path(), baseline_));

    const uint32_t seed = TestSeed(DEFAULT_SEED);
    std::mt19937 rng(seed);
    const uint32_t points = LongRun() ? LONG_COMMIT_POINTS : COMMIT_POINTS;
    ReliabilityTally tally("updater process terminated during the commit");
    for (uint32_t p = 0; p < points; ++p) {
        // Each phase in turn, a seeded step within it: the process ends before that step.
        const std::vector<uint32_t>& candidates = std::next(stepsOf.begin(), p % stepsOf.size())->second;
        const uint32_t step = candidates[rng() % candidates.size()];
        const std::string label = "seed " + std::to_string(seed) + " point " + std::to_string(p) + " (step " +
                                  std::to_string(step) + " of " + std::to_string(steps.size()) + ": " + steps[step] + ")";
        SCOPED_TRACE(label);
        const DWORD killed = RunHarness(smallPatch_, install_, std::to_string(step), trace);
        EXPECT_EQ(killed, HARNESS_KILLED);
        const std::string afterKill = CheckInterruptedRun(baseline_, TakeFolderSnapshot(root_.Path()), completed, smallEntries_);
        EXPECT_EQ(afterKill, "");

        const Drive second = DriveUpdater(smallPatch_, nullptr);
        EXPECT_TRUE(second.finished);
        EXPECT_EQ(second.exitCode, UPDATE_OK);
        const std::string afterSecond = DescribeDifference(completed, TakeFolderSnapshot(root_.Path()));
        EXPECT_EQ(afterSecond, " none") << "a second run leaves what one whole run leaves";

        const bool kept = killed == HARNESS_KILLED && afterKill.empty() && second.finished &&
                          second.exitCode == UPDATE_OK && afterSecond == " none";
        kept ? tally.Survived() : tally.Lost();
        tally.Outcome("killed in the " + phases[step]);
        ASSERT_TRUE(RestoreFolder(root_.Path(), baseline_));
    }
    tally.Report(seed, std::to_string(points) + " kill points among " + std::to_string(steps.size()) +
                           " steps of the commit of 32 entries");
}

}  // namespace
