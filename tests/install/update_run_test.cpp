#include "install/update_run.h"

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "install/installed_list.h"
#include "install/uninstall_list.h"
#include "io/portable/chunk_size.h"
#include "package/portable/package_format.h"
#include "support/dialog_harness.h"
#include "support/failing_allocation.h"
#include "support/folder_snapshot.h"
#include "support/import_hook.h"
#include "support/package_builder.h"
#include "support/win_files.h"
#include "support/windows_answers.h"
#include "ui/portable/texts.h"
#include "ui/resource_ids.h"

using namespace testing_support;

namespace {

// ---- Spies on the dialog's controls: what the run showed, and hooks to act at a chosen moment.

struct ControlSpy {
    HWND window = nullptr;
    WNDPROC original = nullptr;
    std::vector<std::string> texts;
    std::vector<uint32_t> positions;
    std::vector<uint32_t> rangeHighs;
    std::function<void(uint32_t)> onPosition;
    std::function<void()> onText;
};

ControlSpy statusSpy, fileSpy, totalSpy;

LRESULT CALLBACK SpyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ControlSpy& spy = window == statusSpy.window ? statusSpy : window == fileSpy.window ? fileSpy : totalSpy;
    const WNDPROC original = spy.original;
    if (message == WM_SETTEXT) {
        spy.texts.push_back(reinterpret_cast<const char*>(lParam));
        if (spy.onText) spy.onText();
    } else if (message == PBM_SETRANGE32) {
        spy.rangeHighs.push_back(static_cast<uint32_t>(lParam));
    } else if (message == PBM_SETPOS) {
        spy.positions.push_back(static_cast<uint32_t>(wParam));
        if (spy.onPosition) spy.onPosition(static_cast<uint32_t>(wParam));
    }
    return CallWindowProcA(original, window, message, wParam, lParam);
}

void Attach(ControlSpy& spy, HWND window) {
    spy = ControlSpy{};
    spy.window = window;
    spy.original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SpyProc)));
}

// ---- The abort button, pressed for real; its confirmation is answered Yes.

void PressAbort() {
    PostMessageA(GetDlgItem(progressDialogHandle, IDC_ABORT), BM_CLICK, 0, 0);
}

// The name as the file system stores it (its letter case), or "" when missing.
std::string StoredName(const std::string& folder, const std::string& name) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\" + name).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return "";
    FindClose(search);
    return found.cFileName;
}

std::string Status(const std::string& installName) {
    char text[MAX_PATH];
    std::snprintf(text, sizeof text, TEXT_INSTALLING_FORMAT, installName.c_str());
    return text;
}

TestRecord RecordFor(const std::string& path, const Bytes& data) { return {path, ChecksumOf(data)}; }

const Bytes NO_CHECKSUM(8, 0);
const char* const LIST_ENTRY_NAME = "KVX.hvl";

class UpdateRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog_ = OpenProgressDialog();
        ASSERT_NE(dialog_, nullptr);
        Attach(statusSpy, GetDlgItem(dialog_, IDC_STATUS));
        Attach(fileSpy, GetDlgItem(dialog_, IDC_FILE_PROGRESS));
        Attach(totalSpy, GetDlgItem(dialog_, IDC_TOTAL_PROGRESS));
        ASSERT_TRUE(confirmation_.Installed());
        install_ = installRoot_.Path() + "\\game";
        ASSERT_TRUE(CreateDirectoryA(install_.c_str(), nullptr));
    }

    void TearDown() override { CloseProgressDialog(dialog_); }

    // A close posted to the dialog once its confirmation is answered, so that the
    // run meets the close after the answer.
    void CloseAfterConfirmation() {
        confirmation_.onAnswered = [](HWND box) { PostMessageA(GetWindow(box, GW_OWNER), WM_CLOSE, 0, 0); };
    }

    std::string In(const std::string& name) const { return install_ + "\\" + name; }

    void Put(const std::string& name, const Bytes& bytes) { ASSERT_TRUE(WriteWholeFile(In(name), bytes)); }

    // A typical installed game: old archives, its list and the uninstaller's list.
    void InstallOldGame() {
        Put("a.arc", BytesOf("old a"));
        Put("b.arc", BytesOf("old b"));
        Put("c.arc", BytesOf("old c"));
        Put("KVX.hvl", HashValueListBytes({{"a.arc", Bytes(8, 1)}, {"b.arc", Bytes(8, 2)}}));
        Put("uninst.lst", BytesOf("a.arc\nb.arc\n"));
    }

    UpdateResult Run(const std::vector<TestEntry>& entries) { return RunBytes(PatchBytes(PackageBytes(entries))); }

    UpdateResult RunBytes(const Bytes& patch) {
        const std::string path = packageFolder_ / "patch.exe";
        EXPECT_TRUE(WriteWholeFile(path, patch));
        return UpdateRunFromPackage(path.c_str(), install_.c_str());
    }

    // Runs and expects the install folder exactly as before, without any ".tmp" left.
    void ExpectRefused(const std::vector<TestEntry>& entries, UpdateResult expected) {
        ExpectRefusedBytes(PatchBytes(PackageBytes(entries)), expected);
    }

    void ExpectRefusedBytes(const Bytes& patch, UpdateResult expected) {
        const FolderSnapshot before = TakeFolderSnapshot(installRoot_.Path());
        EXPECT_EQ(RunBytes(patch), expected);
        EXPECT_EQ(TakeFolderSnapshot(installRoot_.Path()), before);
        EXPECT_TRUE(TemporaryFiles(TakeFolderSnapshot(installRoot_.Path())).empty());
    }

    HWND dialog_ = nullptr;
    BoxAnswerer confirmation_{IDYES};
    TempFolder installRoot_{"run"};
    TempFolder packageFolder_{"pkg"};
    std::string install_;
};

// ---- Complete runs.

TEST_F(UpdateRunTest, InstallsVerifiedEntriesAndTheListUnderTheirNames) {
    InstallOldGame();
    const Bytes a = GeneratedBytes(3000, 1), b = GeneratedBytes(0x100001, 2);
    const Bytes list = HashValueListBytes({RecordFor("a.arc", a), RecordFor("b.arc", b), RecordFor("gone.arc", a)});
    EXPECT_EQ(Run({{LIST_ENTRY_NAME, list}, {"A.ARC", a}, {"b.arc", b}}), UPDATE_OK);

    EXPECT_EQ(ReadWholeFile(In("a.arc")), a);
    EXPECT_EQ(ReadWholeFile(In("b.arc")), b);
    EXPECT_EQ(ReadWholeFile(In("c.arc")), BytesOf("old c"));
    EXPECT_EQ(StoredName(install_, "a.arc"), "a.arc") << "the record's path decides the name";
    EXPECT_EQ(ReadWholeFile(In("KVX.hvl")), HashValueListBytes({RecordFor("a.arc", a), RecordFor("b.arc", b)}))
        << "the package's list is installed, then pruned to the files present";
    EXPECT_TRUE(TemporaryFiles(TakeFolderSnapshot(installRoot_.Path())).empty());

    EXPECT_EQ(statusSpy.texts, (std::vector<std::string>{Status(LIST_ENTRY_NAME), Status("a.arc"), Status("b.arc")}));
    EXPECT_EQ(totalSpy.rangeHighs, std::vector<uint32_t>{3});
    EXPECT_EQ(totalSpy.positions, (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(fileSpy.rangeHighs, std::vector<uint32_t>{0xFFFF});
}

TEST_F(UpdateRunTest, ZeroEntriesStillCommit) {
    Put("present.arc", BytesOf("here"));
    Put("KVX.hvl", HashValueListBytes({{"missing.arc", Bytes(8, 1)}, {"present.arc", Bytes(8, 2)}}, 7));
    const Bytes uninstallList = BytesOf(std::string("present.arc\n", 13));  // its lines, then one NUL
    Put("uninst.lst", uninstallList);

    EXPECT_EQ(Run({}), UPDATE_OK);
    EXPECT_EQ(ReadWholeFile(In("KVX.hvl")), HashValueListBytes({{"present.arc", Bytes(8, 2)}}, 7));
    EXPECT_EQ(ReadWholeFile(In("uninst.lst")), uninstallList) << "no name was offered";
    EXPECT_EQ(totalSpy.rangeHighs, std::vector<uint32_t>{0});
    EXPECT_TRUE(statusSpy.texts.empty());
}

TEST_F(UpdateRunTest, WithoutAListEveryEntryIsInstalledUnverifiedInItsStoredCase) {
    Put("uninst.lst", BytesOf(""));
    const Bytes data = GeneratedBytes(5000, 3);
    EXPECT_EQ(Run({{"Data.ARC", data}, {"other.bin", BytesOf("x")}}), UPDATE_OK);
    EXPECT_EQ(StoredName(install_, "data.arc"), "Data.ARC");
    EXPECT_EQ(ReadWholeFile(In("Data.ARC")), data);
    EXPECT_EQ(ReadWholeFile(In("other.bin")), BytesOf("x"));
    EXPECT_EQ(statusSpy.texts, (std::vector<std::string>{Status("Data.ARC"), Status("other.bin")}));
}

TEST_F(UpdateRunTest, AnEntryWithoutARecordKeepsItsIndexName) {
    Put("uninst.lst", BytesOf(""));
    const Bytes a = GeneratedBytes(100, 4), extra = GeneratedBytes(50, 5);
    const Bytes list = HashValueListBytes({RecordFor("a.arc", a)});
    EXPECT_EQ(Run({{LIST_ENTRY_NAME, list}, {"a.arc", a}, {"Extra.Bin", extra}}), UPDATE_OK);
    EXPECT_EQ(StoredName(install_, "extra.bin"), "Extra.Bin");
    EXPECT_EQ(ReadWholeFile(In("Extra.Bin")), extra);
    EXPECT_EQ(StoredName(install_, "kvx.hvl"), LIST_ENTRY_NAME);
}

TEST_F(UpdateRunTest, ARecordPathWithAFolderPlacesTheEntryThere) {
    Put("uninst.lst", BytesOf(""));
    ASSERT_TRUE(CreateDirectoryA(In("sub").c_str(), nullptr));
    const Bytes data = GeneratedBytes(2048, 6);
    const Bytes list = HashValueListBytes({RecordFor("sub\\Name.arc", data)});
    EXPECT_EQ(Run({{LIST_ENTRY_NAME, list}, {"name.ARC", data}}), UPDATE_OK);
    EXPECT_EQ(StoredName(In("sub"), "name.arc"), "Name.arc");
    EXPECT_EQ(ReadWholeFile(In("sub\\Name.arc")), data);
    EXPECT_FALSE(FileExists(In("name.ARC")));
    EXPECT_EQ(statusSpy.texts.back(), Status("sub\\Name.arc"));
}

TEST_F(UpdateRunTest, ARecordFolderThatDoesNotExistIsAnIoFailure) {
    InstallOldGame();
    const Bytes data = GeneratedBytes(2048, 6);
    const Bytes list = HashValueListBytes({RecordFor("sub\\Name.arc", data)});
    ExpectRefused({{LIST_ENTRY_NAME, list}, {"name.ARC", data}}, UPDATE_E_IO);
    EXPECT_EQ(statusSpy.texts.back(), Status("sub\\Name.arc"));
}

TEST_F(UpdateRunTest, EmptyEntryVerifiesOnlyAgainstAZeroChecksum) {
    InstallOldGame();
    EXPECT_EQ(Run({{LIST_ENTRY_NAME, HashValueListBytes({{"a.arc", NO_CHECKSUM}})}, {"a.arc", {}}}), UPDATE_OK);
    bool exists = false;
    EXPECT_TRUE(ReadWholeFile(In("a.arc"), &exists).empty());
    EXPECT_TRUE(exists);
    // Set-up; the list's one chunk; the empty entry's start and nothing after it.
    EXPECT_EQ(fileSpy.positions, (std::vector<uint32_t>{0, 0, 0xFFFF, 0}));
}

TEST_F(UpdateRunTest, EmptyEntryFailsAgainstANonZeroChecksum) {
    InstallOldGame();
    ExpectRefused({{LIST_ENTRY_NAME, HashValueListBytes({{"a.arc", ChecksumOf(BytesOf("abc"))}})}, {"a.arc", {}}},
                  UPDATE_E_CORRUPT);
}

TEST_F(UpdateRunTest, FileBarFollowsTheChunks) {
    Put("uninst.lst", BytesOf(""));
    const Bytes exact = GeneratedBytes(COPY_CHUNK_SIZE, 7), longer = GeneratedBytes(COPY_CHUNK_SIZE + 1, 8);
    const Bytes list = HashValueListBytes({RecordFor("exact.arc", exact), RecordFor("longer.arc", longer)});
    EXPECT_EQ(Run({{"exact.arc", exact}, {"longer.arc", longer}, {LIST_ENTRY_NAME, list}}), UPDATE_OK);
    EXPECT_EQ(ReadWholeFile(In("exact.arc")), exact);
    EXPECT_EQ(ReadWholeFile(In("longer.arc")), longer);
    // Set-up, then per entry: 0 at its start and one position per chunk.
    EXPECT_EQ(fileSpy.positions, (std::vector<uint32_t>{0, 0, 0xFFFF, 0, 0xFFFE, 0xFFFF, 0, 0xFFFF}));
}

// ---- Damaged packages.

TEST_F(UpdateRunTest, DataPastTheEndOfTheFileIsCorrupt) {
    InstallOldGame();
    Bytes patch = PatchBytes(PackageBytes({{"a.arc", GeneratedBytes(100, 1)}, {"b.arc", GeneratedBytes(COPY_CHUNK_SIZE + 500, 2)}}));
    patch.resize(patch.size() - 100);  // the second chunk of b.arc comes short
    ExpectRefusedBytes(patch, UPDATE_E_CORRUPT);
    EXPECT_EQ(fileSpy.positions.back(), uint32_t(uint64_t{COPY_CHUNK_SIZE} * 0xFFFF / (COPY_CHUNK_SIZE + 500)))
        << "the first chunk was written before the short read";
}

TEST_F(UpdateRunTest, ChecksumMismatchStopsAtThatEntry) {
    InstallOldGame();
    const Bytes a = GeneratedBytes(COPY_CHUNK_SIZE + 10, 1), b = GeneratedBytes(700, 2), c = GeneratedBytes(800, 3);
    Bytes wrong = ChecksumOf(b);
    wrong[7] ^= 1;
    const Bytes list = HashValueListBytes({RecordFor("a.arc", a), {"b.arc", wrong}, RecordFor("c.arc", c)});
    ExpectRefused({{LIST_ENTRY_NAME, list}, {"a.arc", a}, {"b.arc", b}, {"c.arc", c}}, UPDATE_E_CORRUPT);
    EXPECT_EQ(statusSpy.texts, (std::vector<std::string>{Status(LIST_ENTRY_NAME), Status("a.arc"), Status("b.arc")}))
        << "c.arc is never opened";
    EXPECT_EQ(totalSpy.positions, (std::vector<uint32_t>{0, 1, 2}));
}

TEST_F(UpdateRunTest, PackageShorterThanItsOffsetIsCorrupt) {
    InstallOldGame();
    ExpectRefusedBytes(Bytes(PACKAGE_OFFSET - 1, 0), UPDATE_E_CORRUPT);
    EXPECT_TRUE(fileSpy.rangeHighs.empty()) << "nothing is shown before the index is loaded";
}

TEST_F(UpdateRunTest, TooManyEntries) {
    InstallOldGame();
    std::vector<TestEntry> entries;
    for (int i = 0; i < 33; ++i) entries.push_back({"f" + std::to_string(i), BytesOf("x")});
    ExpectRefused(entries, UPDATE_E_TOO_MANY_ENTRIES);
}

TEST_F(UpdateRunTest, MemoryThatCannotBeHadEndsTheRunWithAResult) {
    InstallOldGame();
    std::vector<TestRecord> records;
    for (int i = 0; i < 2000; ++i) records.push_back({"r" + std::to_string(i), NO_CHECKSUM});
    const std::vector<TestEntry> entries = {{LIST_ENTRY_NAME, HashValueListBytes(records)}, {"a.arc", BytesOf("new a")}};
    // Everything; the list's records (2000 x 64 bytes). The copy buffer comes
    // from VirtualAlloc, whose failure takes the same way out as these.
    for (size_t from : {size_t{1}, size_t{2000 * 64}}) {
        SCOPED_TRACE(from);
        NothrowAllocationFailure failing(from);
        ExpectRefused(entries, UPDATE_E_IO);
        EXPECT_GT(NothrowAllocationFailure::Refused(), 0u);
    }
}

// ---- Names that must not be installed.

TEST_F(UpdateRunTest, NamesOutsideTheFolderAreRefusedBeforeAnyFileIsMade) {
    InstallOldGame();
    const Bytes evil = BytesOf("evil");
    for (const std::string& path : {std::string("..\\evil.arc"), std::string("sub\\..\\..\\evil.arc"),
                                    std::string("C:\\evil.arc"), std::string("C:evil.arc"),
                                    std::string("\\evil.arc"), std::string("\\\\server\\share\\evil.arc")}) {
        SCOPED_TRACE(path);
        statusSpy.texts.clear();
        const Bytes list = HashValueListBytes({RecordFor(path, evil)});
        ExpectRefused({{LIST_ENTRY_NAME, list}, {"good.arc", BytesOf("good")}, {"evil.arc", evil}}, UPDATE_E_CORRUPT);
        EXPECT_EQ(statusSpy.texts, (std::vector<std::string>{Status(LIST_ENTRY_NAME), Status("good.arc")}));
        EXPECT_FALSE(FileExists("C:\\evil.arc.tmp"));
        EXPECT_FALSE(FileExists("C:\\evil.arc"));
    }
    // An index name of its own, with no record, is checked the same way.
    ExpectRefused({{"..\\evil.arc", evil}}, UPDATE_E_CORRUPT);
}

TEST_F(UpdateRunTest, NamesOfOneFileTwiceAreRefused) {
    InstallOldGame();
    ExpectRefused({{"a.arc", BytesOf("first")}, {"A.ARC", BytesOf("second")}}, UPDATE_E_CORRUPT);
    // Through a record and through an index name, with the other separator.
    ASSERT_TRUE(CreateDirectoryA(In("sub").c_str(), nullptr));
    const Bytes x = BytesOf("x");
    ExpectRefused({{LIST_ENTRY_NAME, HashValueListBytes({RecordFor("SUB\\X.ARC", x)})}, {"x.arc", x}, {"sub/x.arc", x}},
                  UPDATE_E_CORRUPT);
    // Two entries matching the same record.
    ExpectRefused({{LIST_ENTRY_NAME, HashValueListBytes({RecordFor("x.arc", x)})}, {"x.arc", x}, {"X.arc", x}},
                  UPDATE_E_CORRUPT);
}

// A device name opens the device, not a file: refused like a name that
// leaves the folder, before any status, temporary file or open for it.
TEST_F(UpdateRunTest, DeviceNamesAreRefusedBeforeAnythingIsOpened) {
    InstallOldGame();
    ASSERT_TRUE(CreateDirectoryA(In("sub").c_str(), nullptr));
    const Bytes data = BytesOf("device");
    for (const std::string name : {"nul.arc", "COM1.dat", "con", "Lpt9.txt", "aux.tar.gz", "PRN"}) {
        SCOPED_TRACE(name);
        statusSpy.texts.clear();
        ExpectRefused({{"good.arc", BytesOf("good")}, {name, data}}, UPDATE_E_CORRUPT);
        EXPECT_EQ(statusSpy.texts, std::vector<std::string>{Status("good.arc")});
        const Bytes list = HashValueListBytes({RecordFor("sub\\" + name, data)});
        ExpectRefused({{LIST_ENTRY_NAME, list}, {name, data}}, UPDATE_E_CORRUPT);
    }
}

// A name that Windows refuses in every file name is no damage of the package:
// the run reaches it and cannot make its temporary file, as on Windows.
TEST_F(UpdateRunTest, ANameNoFileMayHoldGetsNoTemporaryFile) {
    InstallOldGame();
    ASSERT_TRUE(CreateDirectoryA(In("sub").c_str(), nullptr));
    const Bytes data = BytesOf("unusable");
    for (const std::string name : {"a?.arc", "a|b", "a<b", "a>b", "a\"b", "*.arc", "a\x01.arc"}) {
        SCOPED_TRACE(name);
        statusSpy.texts.clear();
        ExpectRefused({{"good.arc", BytesOf("good")}, {name, data}, {"..\\evil.arc", data}}, UPDATE_E_IO);
        EXPECT_EQ(statusSpy.texts, (std::vector<std::string>{Status("good.arc"), Status(name)}));
        const Bytes list = HashValueListBytes({RecordFor("sub\\" + name, data)});
        ExpectRefused({{LIST_ENTRY_NAME, list}, {name, data}}, UPDATE_E_IO);
    }
}

// Once the package's list is found it must load whole from its entry; a
// damaged one would switch verification off and replace the installed list.
TEST_F(UpdateRunTest, ADamagedListIsADamagedPackage) {
    InstallOldGame();
    const Bytes a = GeneratedBytes(300, 1), b = GeneratedBytes(64, 2);
    const Bytes good = HashValueListBytes({RecordFor("a.arc", a)});
    Bytes wrongMagic = good, countPastTheEntry = good;
    wrongMagic[7] = '-';
    countPastTheEntry[12] = 2;  // b.arc's bytes would be its second record
    const Bytes shortHeader(good.begin(), good.begin() + 10);
    for (const Bytes& list : {wrongMagic, countPastTheEntry, shortHeader}) {
        ExpectRefused({{LIST_ENTRY_NAME, list}, {"a.arc", a}, {"b.arc", b}}, UPDATE_E_CORRUPT);
    }
    EXPECT_TRUE(statusSpy.texts.empty()) << "the run ends before its first entry";
}

// The list must fit the file by its whole size: one of 4 GiB and more (data
// below 2 GiB, anything after) keeps its list, so its entries stay verified.
TEST_F(UpdateRunTest, AnImageOfFourGibibytesKeepsItsList) {
    InstallOldGame();
    const Bytes a = GeneratedBytes(3000, 1);
    const auto runLarge = [&](const Bytes& checksum) {
        const std::vector<TestEntry> entries = {{LIST_ENTRY_NAME, HashValueListBytes({{"a.arc", checksum}})},
                                                {"a.arc", a}};
        const std::string path = packageFolder_ / "large.exe";
        EXPECT_TRUE(WriteWholeFile(path, PatchBytes(PackageBytes(entries))));
        // The low 32 bits of the size end inside the list's records.
        const LONGLONG size = 0x100000000ll + PACKAGE_OFFSET + 16 + 2 * 128 + 16 + 10;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = size;
        EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
        CloseHandle(file);
        const UpdateResult result = UpdateRunFromPackage(path.c_str(), install_.c_str());
        DeleteFileA(path.c_str());
        return result;
    };
    EXPECT_EQ(runLarge(Bytes(8, 0xEE)), UPDATE_E_CORRUPT) << "the record still verifies the entry";
    EXPECT_EQ(ReadWholeFile(In("a.arc")), BytesOf("old a"));
    EXPECT_EQ(runLarge(ChecksumOf(a)), UPDATE_OK);
    EXPECT_EQ(ReadWholeFile(In("a.arc")), a);
    EXPECT_EQ(ReadWholeFile(In("KVX.hvl")), HashValueListBytes({RecordFor("a.arc", a)}));
}

TEST_F(UpdateRunTest, PathTooLongForItsBufferIsAnIoFailure) {
    // Folder, "\", name and ".tmp" must stay within 259 bytes.
    install_ += "\\" + std::string(240 - install_.size(), 'd');
    ASSERT_TRUE(CreateDirectoryA(install_.c_str(), nullptr)) << install_;
    Put("keep.arc", BytesOf("kept"));
    const std::string fits(259 - install_.size() - 5, 'n');  // its temporary path is exactly 259 bytes
    ExpectRefused({{fits, BytesOf("1")}, {fits + "x", BytesOf("2")}}, UPDATE_E_IO);
    EXPECT_EQ(statusSpy.texts.size(), 2u) << "the first entry was copied, then cleaned up";
}

// A folder of up to 248 bytes leaves room for "<folder>\uninst.lst", the
// longest path a run builds for it: the run's own names (scratch files of the
// lists, placeholders for stale names) are never longer than that. At 249 bytes
// the list's own path no longer fits, and every file is installed all the same.
TEST_F(UpdateRunTest, FoldersUpToTheLengthTheListsAllowAreUpdated) {
    const std::string root = install_;
    const Bytes a = GeneratedBytes(700, 1), n = BytesOf("new n");
    for (size_t length = 245; length <= 249; ++length) {
        SCOPED_TRACE(length);
        install_ = root + "\\" + std::string(length - root.size() - 1, 'd');
        ASSERT_EQ(install_.size(), length);
        ASSERT_TRUE(CreateDirectoryA(install_.c_str(), nullptr));
        Put("a.arc", BytesOf("old a"));
        Put("KVX.hvl", HashValueListBytes({RecordFor("a.arc", a), RecordFor("gone.arc", a)}));
        const Bytes uninstallList = BytesOf(std::string("a.arc\n\0", 7));
        Put("uninst.lst", uninstallList);
        for (const std::string stale : {"a.arc.tmp", INSTALLED_LIST_SCRATCH_NAME, UNINSTALL_LIST_SCRATCH_NAME}) {
            Put(stale, BytesOf("stale"));
        }
        const UpdateResult result = Run({{"a.arc", a}, {"n.bin", n}});
        EXPECT_EQ(ReadWholeFile(In("a.arc")), a);
        EXPECT_EQ(ReadWholeFile(In("n.bin")), n);
        EXPECT_EQ(ReadWholeFile(In("KVX.hvl")), HashValueListBytes({RecordFor("a.arc", a)}));
        if (length <= 248) {
            EXPECT_EQ(result, UPDATE_OK);
            EXPECT_EQ(ReadText(In("uninst.lst")), std::string("a.arc\nn.bin\n\0", 13));
            EXPECT_EQ(TakeFolderSnapshot(install_).size(), 4u) << "no scratch, temporary or placeholder file left";
        } else {
            EXPECT_EQ(result, UPDATE_E_UNINSTALL_LIST);
            EXPECT_EQ(ReadWholeFile(In("uninst.lst")), uninstallList);
        }
    }
}

// ---- Files and folders as Windows reports them, through WindowsAnswers.

// The old game in the existing folder `folder`, with "sub\d.arc" besides, and
// the package that updates a.arc and sub\d.arc; ExpectSubFolderGameUpdated
// checks what it leaves.
class SubFolderGameTest : public UpdateRunTest {
protected:
    std::vector<TestEntry> InstallIn(const std::string& folder) {
        install_ = folder;
        EXPECT_TRUE(CreateDirectoryA(In("sub").c_str(), nullptr));
        InstallOldGame();
        Put("sub\\d.arc", BytesOf("old d"));
        Put("uninst.lst", BytesOf(std::string("a.arc\nb.arc\n\0", 13)));
        return {{LIST_ENTRY_NAME, list_}, {"a.arc", a_}, {"d.arc", d_}};
    }

    void ExpectSubFolderGameUpdated() {
        EXPECT_EQ(ReadWholeFile(In("a.arc")), a_);
        EXPECT_EQ(ReadWholeFile(In("sub\\d.arc")), d_);
        EXPECT_EQ(ReadWholeFile(In("KVX.hvl")), list_);
        EXPECT_EQ(ReadText(In("uninst.lst")), std::string("a.arc\nb.arc\nKVX.hvl\nsub\\d.arc\n\0", 31));
        EXPECT_TRUE(TemporaryFiles(TakeFolderSnapshot(install_)).empty());
    }

    const Bytes a_ = GeneratedBytes(900, 1), d_ = GeneratedBytes(300, 2);
    const Bytes list_ = HashValueListBytes({RecordFor("a.arc", a_), RecordFor("sub\\d.arc", d_)});
};

// Windows marks system-compressed files (compact /exe), cloud placeholders and
// deduplicated files as reparse points; only a name-surrogate tag (a symbolic
// link, a junction, a mount point) leads a name elsewhere and is refused.
TEST_F(SubFolderGameTest, ReparsePointsThatLeadNowhereElseAreUpdatedLikeAnyFile) {
    const std::string root = install_;
    for (const DWORD tag : {DWORD{IO_REPARSE_TAG_WOF}, DWORD{IO_REPARSE_TAG_CLOUD_6}, DWORD{IO_REPARSE_TAG_DEDUP},
                            DWORD{IO_REPARSE_TAG_SYMLINK}, DWORD{IO_REPARSE_TAG_MOUNT_POINT}}) {
        SCOPED_TRACE(tag);
        const std::string folder = root + "\\" + std::to_string(tag);
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        const std::vector<TestEntry> entries = InstallIn(folder);
        ASSERT_TRUE(SetFileAttributesA(In("a.arc").c_str(), FILE_ATTRIBUTE_READONLY)) << "as installed from a disc";
        WindowsAnswers answers;
        ASSERT_TRUE(answers.Installed());
        for (const char* name : {"a.arc", "KVX.hvl", "uninst.lst"}) ASSERT_TRUE(answers.ReparsePoint(In(name), tag));
        ASSERT_TRUE(answers.ReparsePoint(In("sub"), tag, true));
        if (IsReparseTagNameSurrogate(tag)) {
            ExpectRefused(entries, UPDATE_E_IO);
        } else {
            EXPECT_EQ(Run(entries), UPDATE_OK);
            ExpectSubFolderGameUpdated();
        }
    }
}

// A game folder at the root of a volume mounted in a folder or without a drive
// letter, or further inside one, is updated as on a drive.
TEST_F(SubFolderGameTest, GameFoldersOnVolumesOfEveryNamingAreUpdated) {
    const std::string root = install_;
    int volumes = 0;
    for (const VolumeNaming naming :
         {VolumeNaming::MOUNTED_IN_FOLDER, VolumeNaming::NO_DRIVE_LETTER, VolumeNaming::NT_NAME_ONLY}) {
        for (const bool atRoot : {true, false}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(naming)) + (atRoot ? " at the root" : " inside"));
            const std::string volume = root + "\\" + std::to_string(++volumes);
            const std::string folder = atRoot ? volume : volume + "\\game";
            ASSERT_TRUE(CreateDirectoryA(volume.c_str(), nullptr));
            ASSERT_TRUE(atRoot || CreateDirectoryA(folder.c_str(), nullptr));
            const std::vector<TestEntry> entries = InstallIn(folder);
            WindowsAnswers answers;
            ASSERT_TRUE(answers.Installed());
            ASSERT_TRUE(answers.VolumeRoot(volume, naming));
            EXPECT_EQ(Run(entries), UPDATE_OK);
            ExpectSubFolderGameUpdated();
        }
    }
}

// A file the run made but cannot identify is deleted again, so neither it nor
// the placeholders of later runs pile up in the folder.
TEST_F(UpdateRunTest, FilesThatCannotBeIdentifiedAreNotLeftBehind) {
    InstallOldGame();
    WindowsAnswers answers;
    ASSERT_TRUE(answers.Installed());
    answers.RefuseIdentity();
    ExpectRefused({{"a.arc", BytesOf("new a")}}, UPDATE_E_IO);
    Put("a.arc.tmp", BytesOf("stale"));
    const FolderSnapshot before = TakeFolderSnapshot(installRoot_.Path());
    for (int run = 0; run < 3; ++run) EXPECT_EQ(Run({{"a.arc", BytesOf("new a")}}), UPDATE_E_IO);
    EXPECT_EQ(TakeFolderSnapshot(installRoot_.Path()), before);
}

// ---- Stop requests.

TEST_F(UpdateRunTest, CancelConfirmedDuringAChunk) {
    InstallOldGame();
    fileSpy.onPosition = [](uint32_t position) {
        if (position == 0xFFFF / 3) PressAbort();
    };
    ExpectRefused({{"a.arc", GeneratedBytes(3 * COPY_CHUNK_SIZE, 1)}, {"b.arc", BytesOf("b")}}, UPDATE_E_CANCELLED);
    EXPECT_EQ(confirmation_.boxes.size(), 1u);
    EXPECT_EQ(fileSpy.positions, (std::vector<uint32_t>{0, 0, 0xFFFF / 3})) << "copying stopped after that chunk";
    EXPECT_EQ(totalSpy.positions, std::vector<uint32_t>{0}) << "the entry stopped half-way is not counted";
    EXPECT_EQ(statusSpy.texts, std::vector<std::string>{Status("a.arc")});
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(progressDialogHandle, IDC_ABORT)));
}

TEST_F(UpdateRunTest, CancelConfirmedAfterTheLastEntryKeepsTheCommitFromRunning) {
    InstallOldGame();
    totalSpy.onPosition = [](uint32_t position) {
        if (position == 2) PressAbort();
    };
    ExpectRefused({{"a.arc", BytesOf("new a")}, {"b.arc", BytesOf("new b")}}, UPDATE_E_CANCELLED);
    EXPECT_EQ(confirmation_.boxes.size(), 1u);
    EXPECT_EQ(totalSpy.positions, (std::vector<uint32_t>{0, 1, 2}));
}

TEST_F(UpdateRunTest, CloseDuringAChunkAborts) {
    InstallOldGame();
    const HWND dialog = progressDialogHandle;
    fileSpy.onPosition = [dialog](uint32_t position) {
        if (position == 0xFFFF / 2) PostMessageA(dialog, WM_CLOSE, 0, 0);
    };
    ExpectRefused({{"a.arc", GeneratedBytes(2 * COPY_CHUNK_SIZE + 2, 1)}}, UPDATE_E_ABORTED);
    EXPECT_EQ(progressDialogHandle, nullptr);
    EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(UpdateRunTest, QuitBeforeTheFirstEntryAborts) {
    InstallOldGame();
    PostQuitMessage(0);
    ExpectRefused({{"a.arc", BytesOf("new a")}}, UPDATE_E_ABORTED);
    EXPECT_TRUE(statusSpy.texts.empty());
    EXPECT_EQ(abortRequested, 1);
}

TEST_F(UpdateRunTest, QuitDuringAChunkAborts) {
    InstallOldGame();
    fileSpy.onPosition = [](uint32_t position) {
        if (position > 0 && position < 0xFFFF) PostQuitMessage(0);
    };
    ExpectRefused({{"a.arc", GeneratedBytes(4 * COPY_CHUNK_SIZE, 1)}}, UPDATE_E_ABORTED);
    EXPECT_EQ(fileSpy.positions, (std::vector<uint32_t>{0, 0, 0xFFFF / 4}));
    EXPECT_EQ(totalSpy.positions, std::vector<uint32_t>{0});
}

TEST_F(UpdateRunTest, CancelWinsOverAbort) {
    InstallOldGame();
    cancelRequested = 1;
    abortRequested = 1;
    ExpectRefused({{"a.arc", BytesOf("new a")}}, UPDATE_E_CANCELLED);
    EXPECT_TRUE(statusSpy.texts.empty());
}

TEST_F(UpdateRunTest, CancelThenCloseIsCancelled) {
    InstallOldGame();
    CloseAfterConfirmation();
    fileSpy.onPosition = [](uint32_t position) {
        if (position == 0xFFFF / 2) PressAbort();
    };
    ExpectRefused({{"a.arc", GeneratedBytes(2 * COPY_CHUNK_SIZE, 1)}}, UPDATE_E_CANCELLED);
    EXPECT_EQ(confirmation_.boxes.size(), 1u);
    EXPECT_EQ(abortRequested, 1);
    EXPECT_EQ(cancelRequested, 1);
    EXPECT_EQ(progressDialogHandle, nullptr);
}

// ---- Temporary files of an earlier run.

TEST_F(UpdateRunTest, StaleReadOnlyHiddenTemporaryFileIsReplaced) {
    InstallOldGame();
    Put("a.arc.tmp", BytesOf("stale and long, longer than the new content"));
    ASSERT_TRUE(SetFileAttributesA(In("a.arc.tmp").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    DWORD attributesWhileCopying = INVALID_FILE_ATTRIBUTES;
    const std::string temporary = In("a.arc.tmp");
    fileSpy.onPosition = [&](uint32_t position) {
        if (position == 0xFFFF) attributesWhileCopying = GetFileAttributesA(temporary.c_str());
    };
    const Bytes a = GeneratedBytes(900, 9);
    EXPECT_EQ(Run({{"a.arc", a}}), UPDATE_OK);
    ASSERT_NE(attributesWhileCopying, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributesWhileCopying & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
    EXPECT_EQ(ReadWholeFile(In("a.arc")), a);
    EXPECT_EQ(GetFileAttributesA(In("a.arc").c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
    EXPECT_TRUE(TemporaryFiles(TakeFolderSnapshot(installRoot_.Path())).empty());
}

TEST_F(UpdateRunTest, StaleTemporaryFileIsDeletedWhenThePumpStopsTheRun) {
    InstallOldGame();
    Put("a.arc.tmp", BytesOf("stale"));
    // The quit arrives while the status line is set, so the pump before the file takes it.
    statusSpy.onText = [] { PostQuitMessage(0); };
    EXPECT_EQ(Run({{"a.arc", BytesOf("new a")}}), UPDATE_E_ABORTED);
    EXPECT_FALSE(FileExists(In("a.arc.tmp")));
    EXPECT_EQ(ReadWholeFile(In("a.arc")), BytesOf("old a"));
    EXPECT_EQ(fileSpy.positions, (std::vector<uint32_t>{0, 0}));
}

TEST_F(UpdateRunTest, StaleTemporaryFileOfAHardLinkNeverWritesThroughIt) {
    InstallOldGame();
    const std::string victim = installRoot_ / "victim.dat";
    ASSERT_TRUE(WriteWholeFile(victim, BytesOf("precious")));
    if (!CreateHardLinkA(In("a.arc.tmp").c_str(), victim.c_str(), nullptr)) {
        GTEST_SKIP() << "hard links cannot be made here (error " << GetLastError() << ")";
    }
    const Bytes a = GeneratedBytes(900, 9);
    EXPECT_EQ(Run({{"a.arc", a}}), UPDATE_OK);
    EXPECT_EQ(ReadWholeFile(victim), BytesOf("precious"));
    EXPECT_EQ(ReadWholeFile(In("a.arc")), a);
}

// ---- Durability: the order of the file system calls, seen through the import table.

std::vector<std::string> fileCalls;
decltype(&FlushFileBuffers) realFlush = nullptr;
decltype(&MoveFileExA) realMove = nullptr;

std::string LeafOf(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

BOOL WINAPI TracedFlush(HANDLE file) {
    char path[4 * MAX_PATH] = "";
    GetFinalPathNameByHandleA(file, path, sizeof path, FILE_NAME_NORMALIZED);
    fileCalls.push_back("flush " + LeafOf(path));
    return realFlush(file);
}

BOOL WINAPI TracedMove(const char* from, const char* to, DWORD flags) {
    fileCalls.push_back("move " + LeafOf(from) + " " + std::to_string(flags));
    return realMove(from, to, flags);
}

decltype(&CreateFileA) realCreate = nullptr;

HANDLE WINAPI TracedCreate(const char* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                           DWORD disposition, DWORD flags, HANDLE model) {
    fileCalls.push_back("open " + LeafOf(path));
    return realCreate(path, access, share, security, disposition, flags, model);
}

// NTFS journals a rename, not the data: a file renamed unflushed can come back
// zero-filled after a power cut. Every temporary file must be on disk before
// the commit's first rename, which keeps its flags.
TEST_F(UpdateRunTest, EveryTemporaryFileIsFlushedBeforeTheFirstRename) {
    InstallOldGame();
    const Bytes a = GeneratedBytes(3000, 1), b = GeneratedBytes(COPY_CHUNK_SIZE + 5, 2), fresh = GeneratedBytes(10, 3);
    const Bytes list = HashValueListBytes({RecordFor("a.arc", a), RecordFor("b.arc", b)});
    fileCalls.clear();
    ASSERT_TRUE(HookImportAs("kernel32.dll", "FlushFileBuffers", &TracedFlush, realFlush));
    ASSERT_TRUE(HookImportAs("kernel32.dll", "MoveFileExA", &TracedMove, realMove));
    const UpdateResult result = Run({{LIST_ENTRY_NAME, list}, {"a.arc", a}, {"b.arc", b}, {"new.bin", {}}, {"c.arc", fresh}});
    HookImport("kernel32.dll", "FlushFileBuffers", reinterpret_cast<void*>(realFlush));
    HookImport("kernel32.dll", "MoveFileExA", reinterpret_cast<void*>(realMove));
    EXPECT_EQ(result, UPDATE_OK);

    // The list comes first in the index, so its rename is the commit's first.
    const std::string flags = " " + std::to_string(MOVEFILE_REPLACE_EXISTING);
    const auto firstRename = std::find(fileCalls.begin(), fileCalls.end(), "move KVX.hvl.tmp" + flags);
    ASSERT_NE(firstRename, fileCalls.end()) << "the list's temporary file was not renamed with its flags";
    for (const char* name : {LIST_ENTRY_NAME, "a.arc", "b.arc", "new.bin", "c.arc"}) {
        const std::string temporary = std::string(name) + ".tmp";
        EXPECT_NE(std::find(fileCalls.begin(), firstRename, "flush " + temporary), firstRename) << name;
        EXPECT_NE(std::find(firstRename, fileCalls.end(), "move " + temporary + flags), fileCalls.end()) << name;
    }
}

// After its rename a temporary name is no longer the run's: a file found there
// later (an installed file moved back, say) must not be opened, let alone
// deleted as the run's own.
TEST_F(UpdateRunTest, AFullCommitNeverOpensATemporaryNameAgain) {
    InstallOldGame();
    const Bytes a = GeneratedBytes(3000, 1), b = GeneratedBytes(40, 2);
    const Bytes list = HashValueListBytes({RecordFor("a.arc", a), RecordFor("b.arc", b)});
    fileCalls.clear();
    ASSERT_TRUE(HookImportAs("kernel32.dll", "CreateFileA", &TracedCreate, realCreate));
    ASSERT_TRUE(HookImportAs("kernel32.dll", "MoveFileExA", &TracedMove, realMove));
    const UpdateResult result = Run({{LIST_ENTRY_NAME, list}, {"a.arc", a}, {"b.arc", b}});
    HookImport("kernel32.dll", "CreateFileA", reinterpret_cast<void*>(realCreate));
    HookImport("kernel32.dll", "MoveFileExA", reinterpret_cast<void*>(realMove));
    ASSERT_EQ(result, UPDATE_OK);

    for (const char* name : {"a.arc", "b.arc"}) {
        const std::string temporary = std::string(name) + ".tmp";
        const auto moved = std::find_if(fileCalls.begin(), fileCalls.end(), [&](const std::string& call) {
            return call.rfind("move " + temporary + " ", 0) == 0;
        });
        ASSERT_NE(moved, fileCalls.end()) << name;
        EXPECT_EQ(std::find(moved, fileCalls.end(), "open " + temporary), fileCalls.end()) << name;
    }
}

// ---- Folder names in the ANSI code page.

TEST_F(UpdateRunTest, InstallFolderWithATrailByte5C) {
    install_ = installRoot_ / "ソフト";
    ASSERT_TRUE(CreateDirectoryA(install_.c_str(), nullptr));
    Put("uninst.lst", BytesOf(""));
    const Bytes a = GeneratedBytes(1234, 1), kana = GeneratedBytes(77, 2);
    const Bytes list = HashValueListBytes({RecordFor("a.arc", a), RecordFor("表.arc", kana)});
    EXPECT_EQ(Run({{LIST_ENTRY_NAME, list}, {"a.arc", a}, {"表.ARC", kana}}), UPDATE_OK);
    EXPECT_EQ(ReadWholeFile(In("a.arc")), a);
    EXPECT_EQ(ReadWholeFile(In("表.arc")), kana);
    EXPECT_EQ(TakeFolderSnapshot(installRoot_.Path()).count("ソフト\\表.arc"), 1u);
    EXPECT_TRUE(TemporaryFiles(TakeFolderSnapshot(installRoot_.Path())).empty());
}

}  // namespace
