// Faults of the machine during a real update run with the real progress dialog:
// a full disk while files are extracted and while the lists are rewritten, a
// target held open by another program, targets with read-only, hidden and
// system attributes and stale temporary files. The install folder is compared
// byte for byte with its state before; nothing outside it may change.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "install/installed_list.h"
#include "install/uninstall_list.h"
#include "install/update_run.h"
#include "package/portable/package_format.h"
#include "support/dialog_harness.h"
#include "support/folder_snapshot.h"
#include "support/package_builder.h"
#include "support/reliability_tally.h"
#include "support/small_disk.h"
#include "support/watched_install.h"
#include "support/win_files.h"
#include "ui/resource_ids.h"

using namespace testing_support;

namespace {

constexpr uint32_t DEFAULT_SEED = 0xD15CF011;
constexpr uint32_t KIB = 1024;

Bytes Generated(uint32_t size, uint32_t seed) { return GeneratedBytes(size, seed, 7); }

// ---- The total bar, watched from inside the run: acts when it reaches a position.

WNDPROC originalBarProc = nullptr;
std::function<void(uint32_t)> onTotalPosition;

LRESULT CALLBACK TotalBarSpy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS && onTotalPosition) onTotalPosition(static_cast<uint32_t>(wParam));
    return CallWindowProcA(originalBarProc, window, message, wParam, lParam);
}

// A package with its list first, every file covered by a record.
struct Patch {
    std::vector<TestEntry> entries;
    Bytes bytes;
};

// `rounds` times the records of every file: a longer list, all of it present.
Patch MakePatch(const std::vector<std::pair<std::string, Bytes>>& files, uint32_t rounds = 1) {
    Patch patch;
    std::vector<TestRecord> records;
    for (uint32_t round = 0; round < rounds; ++round) {
        for (const auto& file : files) records.push_back({file.first, ChecksumOf(file.second)});
    }
    patch.entries.push_back({LIST_NAME, HashValueListBytes(records)});
    for (const auto& file : files) patch.entries.push_back({file.first, file.second});
    patch.bytes = PatchBytes(PackageBytes(patch.entries));
    return patch;
}

class FaultInjection : public ::testing::Test {
protected:
    void SetUp() override {
        ResetDialogState();
        onTotalPosition = nullptr;
        install_ = root_ / "game";
        outside_ = root_ / "outside";
        ASSERT_TRUE(CreateDirectoryA(outside_.c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(outside_ + "\\a.arc", BytesOf("outside a")));
        ASSERT_TRUE(WriteWholeFile(root_ / "parent.bin", BytesOf("beside the install folder")));
    }

    void TearDown() override {
        onTotalPosition = nullptr;
        CloseProgressDialog(progressDialogHandle);
    }

    std::string In(const std::string& name) const { return install_ + "\\" + name; }

    // Old archives, the installed list with a record of a missing file, the uninstaller's list.
    void InstallOldGame(const std::vector<std::string>& names) {
        CreateDirectoryA(install_.c_str(), nullptr);
        std::vector<TestRecord> records;
        std::string lines;
        for (const std::string& name : names) {
            ASSERT_TRUE(WriteWholeFile(In(name), BytesOf("old " + name)));
            records.push_back({name, ChecksumOf(BytesOf("old " + name))});
            lines += name + "\n";
        }
        records.push_back({"gone.arc", Bytes(8, 1)});
        ASSERT_TRUE(WriteWholeFile(In(LIST_NAME), HashValueListBytes(records, 77)));
        Bytes uninstall = BytesOf(lines);
        uninstall.push_back(0);
        ASSERT_TRUE(WriteWholeFile(In(UNINSTALL_NAME), uninstall));
    }

    UpdateResult Run(const Bytes& patch) {
        EXPECT_TRUE(WriteWholeFile(patchPath_, patch));
        if (!progressDialogHandle || !IsWindow(progressDialogHandle)) {
            EXPECT_NE(OpenProgressDialog(), nullptr);
            HWND bar = GetDlgItem(progressDialogHandle, IDC_TOTAL_PROGRESS);
            originalBarProc = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TotalBarSpy)));
        }
        cancelRequested = 0;
        abortRequested = 0;
        return UpdateRunFromPackage(patchPath_.c_str(), install_.c_str());
    }

    TempFolder root_{"faults"};
    TempFolder packageFolder_{"faults-pkg"};
    std::string install_, outside_;
    std::string patchPath_ = packageFolder_ / "patch.exe";
};

// ---- A full disk.

TEST_F(FaultInjection, AFullDiskDuringExtractionInstallsNothing) {
    SmallDisk disk(install_);
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a small file system here: " << disk.reason;
    InstallOldGame({"a.arc", "b.arc", "c.arc"});
    const FolderSnapshot baseline = TakeFolderSnapshot(root_.Path());

    const uint32_t seed = TestSeed(DEFAULT_SEED);
    std::mt19937 rng(seed);
    ReliabilityTally tally("full disk during extraction");
    const uint32_t cases = LongRun() ? 60 : 12;
    for (uint32_t c = 0; c < cases; ++c) {
        // Three files whose sum is beyond the disk; the one that runs out is random.
        std::vector<std::pair<std::string, Bytes>> files;
        uint32_t total = 0;
        for (const char* name : {"a.arc", "b.arc", "c.arc"}) {
            const uint32_t size = 1 + rng() % (40 * KIB);
            files.push_back({name, Generated(size, rng())});
            total += size;
        }
        files.push_back({"new.arc", Generated(80 * KIB - (total > 40 * KIB ? 40 * KIB : total) + rng() % KIB, rng())});
        const Patch patch = MakePatch(files);
        SCOPED_TRACE("seed " + std::to_string(seed) + " case " + std::to_string(c));

        const UpdateResult result = Run(patch.bytes);
        const FolderSnapshot after = TakeFolderSnapshot(root_.Path());
        const std::string problems = CheckRunOutcome(result, baseline, after, patchPath_, install_);
        EXPECT_EQ(result, UPDATE_E_IO);
        EXPECT_EQ(problems, "");
        EXPECT_EQ(DescribeDifference(baseline, after), " none") << "nothing installed";
        tally.Count(result == UPDATE_E_IO && problems.empty() && after == baseline, OutcomeName(result));
        ASSERT_TRUE(RestoreFolder(root_.Path(), baseline));
    }
    tally.Report(seed, "64 KiB tmpfs, 81-200 KiB of entries");
}

// Renames free the pages of the files they replace, so both new lists are made
// larger than everything the commit frees: neither can be written, and each
// must stay whole.
TEST_F(FaultInjection, AFullDiskWhileTheListsAreRewrittenKeepsBothIntact) {
    SmallDisk disk(install_);
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a small file system here: " << disk.reason;
    const uint32_t seed = TestSeed(DEFAULT_SEED);
    std::mt19937 rng(seed);
    InstallOldGame({"a.arc", "b.arc"});
    std::string lines = "a.arc\nb.arc\n";
    for (uint32_t i = 0; lines.size() < 13 * KIB + rng() % (2 * KIB); ++i) lines += "old\\file" + std::to_string(i) + ".arc\n";
    Bytes uninstall = BytesOf(lines);
    uninstall.push_back(0);
    ASSERT_TRUE(WriteWholeFile(In(UNINSTALL_NAME), uninstall));
    const FolderSnapshot baseline = TakeFolderSnapshot(root_.Path());
    const std::string uninstallKey = SnapshotKey(std::string("game\\") + UNINSTALL_NAME);

    ReliabilityTally tally("full disk while the lists are rewritten");
    const uint32_t cases = LongRun() ? 40 : 8;
    for (uint32_t c = 0; c < cases; ++c) {
        const Patch patch = MakePatch({{"a.arc", Generated(1 + rng() % (4 * KIB), rng())},
                                       {"b.arc", Generated(1 + rng() % (4 * KIB), rng())},
                                       {"new.arc", Generated(1 + rng() % (4 * KIB), rng())}},
                                      67 + rng() % 10);
        SCOPED_TRACE("seed " + std::to_string(seed) + " case " + std::to_string(c));
        // Every file is extracted and verified; the disk fills up as the last one completes.
        const uint32_t count = static_cast<uint32_t>(patch.entries.size());
        bool filled = false;
        onTotalPosition = [&](uint32_t position) {
            if (position == count) filled = FillDisk(install_);
        };
        const UpdateResult result = Run(patch.bytes);
        onTotalPosition = nullptr;
        ASSERT_TRUE(filled) << "the disk did not fill up";
        DeleteFileA(In("filler").c_str());

        const FolderSnapshot after = TakeFolderSnapshot(root_.Path());
        const std::string problems = CheckRunOutcome(result, baseline, after, patchPath_, install_);
        EXPECT_EQ(result, UPDATE_E_UNINSTALL_LIST);
        EXPECT_EQ(problems, "");
        // The new list was moved into place whole and could not be pruned; the
        // uninstaller's list could not be rewritten and is as it was.
        const bool listWhole = ReadWholeFile(In(LIST_NAME)) == patch.entries[0].data;
        const bool uninstallWhole = after.count(uninstallKey) && after.at(uninstallKey) == baseline.at(uninstallKey);
        EXPECT_TRUE(listWhole);
        EXPECT_TRUE(uninstallWhole);
        for (size_t i = 1; i < patch.entries.size(); ++i) {
            EXPECT_EQ(ReadWholeFile(In(patch.entries[i].name)), patch.entries[i].data) << patch.entries[i].name;
        }
        EXPECT_FALSE(FileExists(In(INSTALLED_LIST_SCRATCH_NAME)));
        EXPECT_FALSE(FileExists(In(UNINSTALL_LIST_SCRATCH_NAME)));
        tally.Count(result == UPDATE_E_UNINSTALL_LIST && problems.empty() && listWhole && uninstallWhole,
                    OutcomeName(result));
        ASSERT_TRUE(RestoreFolder(root_.Path(), baseline));
    }
    tally.Report(seed, "disk filled as the last entry completes");
}

// ---- A target held open by another program.

// Opened by the test without any sharing, as a running game would hold its archive.
struct HeldFile {
    explicit HeldFile(const std::string& path)
        : handle(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~HeldFile() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    HANDLE handle;
};

TEST_F(FaultInjection, ATargetHeldOpenStopsTheCommitAtThatName) {
    const std::vector<std::string> names = {"a.arc", "b.arc", "c.arc", "d.arc"};
    InstallOldGame(names);
    const FolderSnapshot baseline = TakeFolderSnapshot(root_.Path());

    const uint32_t seed = TestSeed(DEFAULT_SEED);
    std::mt19937 rng(seed);
    ReliabilityTally tally("target held open");
    const uint32_t cases = LongRun() ? 40 : 8;
    for (uint32_t c = 0; c < cases; ++c) {
        std::vector<std::pair<std::string, Bytes>> files;
        for (const std::string& name : names) files.push_back({name, Generated(1 + rng() % (300 * KIB), rng())});
        std::shuffle(files.begin(), files.end(), rng);
        const Patch patch = MakePatch(files);
        // Entry 0 is the list; the held one is any of the others.
        const size_t held = 1 + rng() % files.size();
        const std::string heldName = patch.entries[held].name;
        SCOPED_TRACE("seed " + std::to_string(seed) + " case " + std::to_string(c) + ", held " + heldName);

        UpdateResult result;
        {
            HeldFile hold(In(heldName));
            ASSERT_NE(hold.handle, INVALID_HANDLE_VALUE);
            result = Run(patch.bytes);
        }
        const FolderSnapshot after = TakeFolderSnapshot(root_.Path());
        const std::string problems = CheckRunOutcome(result, baseline, after, patchPath_, install_);
        EXPECT_EQ(result, UPDATE_E_IO);
        EXPECT_EQ(problems, "");
        // The names before the held one are replaced (the new list among them, not
        // pruned); it and the later ones keep their old content; uninst.lst is untouched.
        std::string wrong;
        for (size_t i = 0; i < patch.entries.size(); ++i) {
            const Bytes now = ReadWholeFile(In(patch.entries[i].name));
            const Bytes old = baseline.at(SnapshotKey("game\\" + patch.entries[i].name)).bytes;
            if (now != (i < held ? patch.entries[i].data : old)) wrong += " " + patch.entries[i].name;
        }
        if (after.at(SnapshotKey(std::string("game\\") + UNINSTALL_NAME)) !=
            baseline.at(SnapshotKey(std::string("game\\") + UNINSTALL_NAME))) {
            wrong += " uninst.lst";
        }
        EXPECT_EQ(wrong, "");
        tally.Count(result == UPDATE_E_IO && problems.empty() && wrong.empty(), OutcomeName(result));
        ASSERT_TRUE(RestoreFolder(root_.Path(), baseline));
    }
    tally.Report(seed, "held without sharing by the test");
}

// ---- Attributes and leftovers of an earlier run.

TEST_F(FaultInjection, ReadOnlyHiddenSystemTargetsAndStaleTemporaryFilesAreReplaced) {
    const std::vector<std::pair<std::string, DWORD>> targets = {
        {"ro.arc", FILE_ATTRIBUTE_READONLY},
        {"hidden.arc", FILE_ATTRIBUTE_HIDDEN},
        {"system.arc", FILE_ATTRIBUTE_SYSTEM},
        {"all.arc", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
        {"plain.arc", 0},
    };
    std::vector<std::string> names;
    for (const auto& target : targets) names.push_back(target.first);
    InstallOldGame(names);
    // Leftovers of a run that was stopped: temporary files, some with attributes,
    // and the lists' scratch files.
    const std::vector<std::pair<std::string, DWORD>> stale = {
        {"ro.arc.tmp", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
        {"system.arc.tmp", FILE_ATTRIBUTE_SYSTEM},
        {"plain.arc.tmp", 0},
        {INSTALLED_LIST_SCRATCH_NAME, FILE_ATTRIBUTE_READONLY},  // also the list entry's temporary file
        {UNINSTALL_LIST_SCRATCH_NAME, FILE_ATTRIBUTE_HIDDEN},
    };
    for (const auto& file : stale) {
        ASSERT_TRUE(WriteWholeFile(In(file.first), BytesOf("stale bytes of an earlier run, longer than some")));
        if (file.second) {
            ASSERT_TRUE(SetFileAttributesA(In(file.first).c_str(), file.second));
        }
    }
    for (const auto& target : targets) {
        if (target.second) {
            ASSERT_TRUE(SetFileAttributesA(In(target.first).c_str(), target.second));
        }
    }
    const FolderSnapshot before = TakeFolderSnapshot(root_.Path());

    std::vector<std::pair<std::string, Bytes>> files;
    uint32_t seed = 1;
    for (const std::string& name : names) files.push_back({name, Generated(5000 + seed * 999, seed)}), ++seed;
    const Patch patch = MakePatch(files);
    ReliabilityTally tally("read-only, hidden, system targets, stale temporary files");
    const UpdateResult result = Run(patch.bytes);
    EXPECT_EQ(result, UPDATE_OK);

    std::string wrong;
    for (const auto& file : files) {
        if (ReadWholeFile(In(file.first)) != file.second) wrong += " content:" + file.first;
        const DWORD attributes = GetFileAttributesA(In(file.first).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))) {
            wrong += " attributes:" + file.first;
        }
    }
    for (const auto& file : stale) {
        if (GetFileAttributesA(In(file.first).c_str()) != INVALID_FILE_ATTRIBUTES) wrong += " left:" + file.first;
    }
    // Every target exists, so the new list keeps all its records; the names were all listed.
    if (ReadWholeFile(In(LIST_NAME)) != patch.entries[0].data) wrong += " KVX.hvl";
    Bytes expectedUninstall = before.at(SnapshotKey(std::string("game\\") + UNINSTALL_NAME)).bytes;
    expectedUninstall.pop_back();
    for (const char c : std::string("KVX.hvl\n")) expectedUninstall.push_back(static_cast<uint8_t>(c));
    expectedUninstall.push_back(0);
    if (ReadWholeFile(In(UNINSTALL_NAME)) != expectedUninstall) wrong += " uninst.lst";
    const FolderSnapshot after = TakeFolderSnapshot(root_.Path());
    if (SnapshotWithout(after, INSTALL_PREFIX) != SnapshotWithout(before, INSTALL_PREFIX)) wrong += " outside";
    EXPECT_EQ(wrong, "");
    tally.Count(result == UPDATE_OK && wrong.empty(), OutcomeName(result));
    tally.Report(0, "5 targets, 5 stale files");
}

}  // namespace
