// The real updater killed while it extracts: at seeded points chosen by where the
// two progress bars stand, the test terminates the process (as a power cut or
// the task manager would end it). The installed files must be as before; a
// second run must complete with UPDATE_OK and leave no ".tmp" behind.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "entry/program_names.h"
#include "package/update_result.h"
#include "package/package_format.h"
#include "support/folder_snapshot.h"
#include "support/package_builder.h"
#include "support/reliability_tally.h"
#include "support/watched_install.h"
#include "support/win_files.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"

using namespace testing_support;

namespace {

constexpr uint32_t DEFAULT_SEED = 0x7E4A1A7E;
constexpr uint32_t POINTS = 20;
constexpr uint32_t LONG_POINTS = 100;
constexpr uint32_t MIB = 1024 * 1024;
constexpr DWORD RUN_TIMEOUT_MS = 120000;
constexpr UINT KILLED_EXIT_CODE = 0xDEAD;
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;
constexpr char DIALOG_CLASS[] = "#32770";
constexpr char KEY_PATH[] = "Software\\Pellowick\\Aubrelle";
constexpr char PUBLISHER_KEY_PATH[] = "Software\\Pellowick";
constexpr uint32_t FILE_BAR_TOP = 0xFFFF;

std::string BinFolder() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder = path;
    folder.erase(folder.find_last_of('\\'));
    folder.erase(folder.find_last_of('\\'));
    return folder + "\\bin";
}

Bytes Generated(uint32_t size, uint32_t seed) { return GeneratedBytes(size, seed, 3); }

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window) {
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

struct Search {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialogs(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && ClassOf(window) == DIALOG_CLASS) {
        search->found.push_back(window);
    }
    return TRUE;
}

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
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + patch + "\"";
    if (!CreateProcessA(patch.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return drive;
    }
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
        Search search{process.dwProcessId, {}};
        EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&search));
        for (HWND window : search.found) {
            if (HWND text = GetDlgItem(window, MESSAGE_BOX_TEXT_ID)) {
                if (answered.insert(window).second) {
                    const int button = TextOf(text) == TEXT_CONSENT ? IDYES : IDOK;
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
        std::vector<TestRecord> oldRecords, newRecords;
        std::string lines = "KVX.hvl\n";
        uint32_t seed = 1;
        for (const auto& file : sizes) {
            const Bytes fresh = Generated(file.second, seed++);
            newFiles_.push_back({file.first, fresh});
            newRecords.push_back({file.first, ChecksumOf(fresh)});
            if (file.first == "new.arc") continue;
            const Bytes old = Generated(1000 + seed * 77, 100 + seed);
            ASSERT_TRUE(WriteWholeFile(install_ + "\\" + file.first, old));
            oldRecords.push_back({file.first, ChecksumOf(old)});
            lines += file.first + "\n";
        }
        oldRecords.push_back({"gone.arc", Bytes(8, 1)});
        ASSERT_TRUE(WriteWholeFile(install_ + "\\KVX.hvl", HashValueListBytes(oldRecords)));
        Bytes uninstall = BytesOf(lines);
        uninstall.push_back(0);
        ASSERT_TRUE(WriteWholeFile(install_ + "\\uninst.lst", uninstall));
        newList_ = HashValueListBytes(newRecords);
        expectedUninstall_ = BytesOf(lines + "new.arc\n");
        expectedUninstall_.push_back(0);

        std::vector<TestEntry> entries = {{"KVX.hvl", newList_}};
        for (const TestEntry& file : newFiles_) entries.push_back(file);
        entryCount_ = static_cast<uint32_t>(entries.size());
        Bytes patch = ReadWholeFile(BinFolder() + "\\sundrift-updater.exe");
        ASSERT_FALSE(patch.empty());
        ASSERT_LE(patch.size(), PACKAGE_OFFSET);
        const Bytes package = PackageBytes(entries);
        patch.resize(PACKAGE_OFFSET, 0);
        patch.insert(patch.end(), package.begin(), package.end());
        patch_ = packageFolder_ / "patch.exe";
        ASSERT_TRUE(WriteWholeFile(patch_, patch));

        RemoveKey();
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, KEY_PATH, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "InstalledFolder", 0, REG_SZ, reinterpret_cast<const BYTE*>(install_.c_str()),
                       static_cast<DWORD>(install_.size() + 1));
        RegCloseKey(key);
        baseline_ = TakeFolderSnapshot(root_.Path());
    }

    void TearDown() override { RemoveKey(); }

    static void RemoveKey() {
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, KEY_PATH);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, PUBLISHER_KEY_PATH);
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

}  // namespace
