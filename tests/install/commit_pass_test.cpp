#include "install/commit_pass.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/installed_list.h"
#include "install/uninstall_list.h"
#include "package/portable/package_format.h"
#include "support/failing_allocation.h"
#include "support/host_links.h"
#include "support/install_names.h"
#include "support/package_builder.h"
#include "support/small_disk.h"
#include "support/unix_shell.h"
#include "support/win_files.h"
#include "support/windows_refusals.h"

using namespace testing_support;

namespace {

Bytes Checksum(uint8_t seed) { return Bytes(CHECKSUM_SIZE, seed); }

TestRecord Record(const std::string& path, uint8_t seed) { return TestRecord{path, Checksum(seed)}; }

Bytes ReadBytes(const std::string& path) { return ReadWholeFile(path); }

bool WriteText(const std::string& path, const std::string& text) { return WriteWholeFile(path, text); }

uint32_t CountOf(const Bytes& list) {
    return list.size() < 16 ? UINT32_MAX : ReadU32(list, 12);
}

// Writes "<name>.tmp" with new content and, when `old` is given, "<name>" with the old.
void Stage(const TempFolder& folder, const std::string& name, const std::string& fresh, const char* old = nullptr) {
    ASSERT_TRUE(WriteText(folder / (name + ".tmp"), fresh));
    if (old) {
        ASSERT_TRUE(WriteText(folder / name, old));
    }
}

void ExpectNoScratchFiles(const TempFolder& folder) {
    EXPECT_FALSE(Exists(folder / INSTALLED_LIST_SCRATCH_NAME));
    EXPECT_FALSE(Exists(folder / UNINSTALL_LIST_SCRATCH_NAME));
}

// ---- the renames -------------------------------------------------------------

TEST(CommitPass, MovesEveryFileIntoPlaceAndExtendsTheLists) {
    TempFolder folder("commit");
    ASSERT_TRUE(CreateDirectoryA((folder / "sub").c_str(), nullptr));
    Stage(folder, "a.arc", "new a", "old a");
    Stage(folder, "sub\\b.arc", "new b");
    const Bytes list = HashValueListBytes({Record("a.arc", 1), Record("gone.arc", 2), Record("sub\\b.arc", 3)});
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl.tmp", list));
    ASSERT_TRUE(WriteWholeFile(folder / "uninst.lst", std::string("a.arc\n", 7)));

    const InstallNames names({"KVX.hvl", "a.arc", "sub\\b.arc"});
    EXPECT_EQ(CommitPass(folder.Path().c_str(), names.Slots(), names.Count()), UPDATE_OK);

    EXPECT_EQ(ReadText(folder / "a.arc"), "new a");
    EXPECT_EQ(ReadText(folder / "sub\\b.arc"), "new b");
    for (const std::string& name : names.text) EXPECT_FALSE(Exists(folder / (name + ".tmp"))) << name;
    // The list moved into place first is the one pruned.
    EXPECT_EQ(ReadBytes(folder / "KVX.hvl"), HashValueListBytes({Record("a.arc", 1), Record("sub\\b.arc", 3)}));
    EXPECT_EQ(ReadText(folder / "uninst.lst"), std::string("a.arc\nKVX.hvl\nsub\\b.arc\n", 25));
    ExpectNoScratchFiles(folder);
}

TEST(CommitPass, ReplacesReadOnlyHiddenAndSystemTargetsAndClearsTheirAttributes) {
    TempFolder folder("attrs");
    const std::vector<std::pair<std::string, DWORD>> targets = {
        {"ro.dat", FILE_ATTRIBUTE_READONLY},
        {"hidden.dat", FILE_ATTRIBUTE_HIDDEN},
        {"system.dat", FILE_ATTRIBUTE_SYSTEM},
        {"all.dat", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
    };
    std::vector<std::string> list;
    for (const auto& target : targets) {
        Stage(folder, target.first, "new " + target.first, "old");
        ASSERT_TRUE(SetFileAttributesA((folder / target.first).c_str(), target.second));
        list.push_back(target.first);
    }
    ASSERT_TRUE(WriteWholeFile(folder / "uninst.lst", Bytes(1, 0)));
    const InstallNames names(list);
    const unsigned refusedBefore = WindowsRefusals::Refused();
    EXPECT_EQ(CommitPass(folder.Path().c_str(), names.Slots(), names.Count()), UPDATE_OK);
    EXPECT_EQ(WindowsRefusals::Refused() - refusedBefore, 2u) << "the renames onto both read-only targets, as Windows";
    constexpr DWORD CLEARED = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    for (const auto& target : targets) {
        const DWORD attributes = GetFileAttributesA((folder / target.first).c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << target.first;
        EXPECT_EQ(attributes & CLEARED, 0u) << target.first;
        EXPECT_EQ(ReadText(folder / target.first), "new " + target.first);
    }
}

// The folder after a pass that must stop at "b.dat": "a.dat" replaced, the rest
// as staged, both lists untouched.
struct StoppedPass {
    StoppedPass() : folder("stop") {
        Stage(folder, "a.dat", "new a", "old a");
        Stage(folder, "c.dat", "new c", "old c");
        hashList = HashValueListBytes({Record("a.dat", 1), Record("missing.dat", 2)});
        EXPECT_TRUE(WriteWholeFile(folder / "KVX.hvl", hashList));
        EXPECT_TRUE(WriteText(folder / "uninst.lst", std::string("\0", 1)));
    }
    void ExpectStoppedAtB(UpdateResult result) {
        EXPECT_EQ(result, UPDATE_E_IO);
        EXPECT_EQ(ReadText(folder / "a.dat"), "new a");
        EXPECT_FALSE(Exists(folder / "a.dat.tmp"));
        EXPECT_EQ(ReadText(folder / "b.dat.tmp"), "new b");
        EXPECT_EQ(ReadText(folder / "c.dat"), "old c");
        EXPECT_EQ(ReadText(folder / "c.dat.tmp"), "new c");
        EXPECT_EQ(ReadBytes(folder / "KVX.hvl"), hashList) << "no pruning after a failed rename";
        EXPECT_EQ(ReadText(folder / "uninst.lst"), std::string("\0", 1)) << "no names after a failed rename";
        ExpectNoScratchFiles(folder);
    }
    TempFolder folder;
    Bytes hashList;
    const InstallNames names{{"a.dat", "b.dat", "c.dat"}};
};

TEST(CommitPass, AFolderInTheWayStopsThePassAtThatName) {
    StoppedPass pass;
    Stage(pass.folder, "b.dat", "new b");
    ASSERT_TRUE(CreateDirectoryA((pass.folder / "b.dat").c_str(), nullptr));
    ASSERT_TRUE(WriteText(pass.folder / "b.dat\\inside", "x"));
    pass.ExpectStoppedAtB(CommitPass(pass.folder.Path().c_str(), pass.names.Slots(), pass.names.Count()));
    EXPECT_EQ(ReadText(pass.folder / "b.dat\\inside"), "x");
}

TEST(CommitPass, ATargetHeldOpenStopsThePassAtThatName) {
    StoppedPass pass;
    Stage(pass.folder, "b.dat", "new b", "old b");
    HANDLE held = CreateFileA((pass.folder / "b.dat").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const UpdateResult result = CommitPass(pass.folder.Path().c_str(), pass.names.Slots(), pass.names.Count());
    CloseHandle(held);
    pass.ExpectStoppedAtB(result);
    EXPECT_EQ(ReadText(pass.folder / "b.dat"), "old b");
}

TEST(CommitPass, TheSecondOfTwoEqualNamesFindsNoTemporaryFile) {
    TempFolder folder("twice");
    Stage(folder, "same.dat", "new", "old");
    const Bytes list = HashValueListBytes({Record("missing.dat", 1)});
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", list));
    ASSERT_TRUE(WriteText(folder / "uninst.lst", std::string("\0", 1)));
    const InstallNames names({"same.dat", "same.dat"});
    EXPECT_EQ(CommitPass(folder.Path().c_str(), names.Slots(), names.Count()), UPDATE_E_IO);
    EXPECT_EQ(ReadText(folder / "same.dat"), "new");
    EXPECT_EQ(ReadBytes(folder / "KVX.hvl"), list);
    EXPECT_EQ(ReadText(folder / "uninst.lst"), std::string("\0", 1));
}

TEST(CommitPass, NamesThatLeaveTheFolderOrOutgrowAPathAreFailedRenames) {
    TempFolder outside("outside");
    TempFolder folder("leaving");
    const std::string outsideName = outside.Path().substr(outside.Path().rfind('\\') + 1);
    ASSERT_TRUE(WriteText(outside / "x.dat", "outside"));
    ASSERT_TRUE(WriteText(outside / "x.dat.tmp", "planted"));
    ASSERT_TRUE(WriteText(folder / "uninst.lst", std::string("\0", 1)));
    const InstallNames escaping({"..\\" + outsideName + "\\x.dat"});
    EXPECT_EQ(CommitPass(folder.Path().c_str(), escaping.Slots(), escaping.Count()), UPDATE_E_IO);
    EXPECT_EQ(ReadText(outside / "x.dat"), "outside");

    const InstallNames tooLong({std::string(MAX_PATH - folder.Path().size() - 4, 'n')});  // fits, its ".tmp" does not
    EXPECT_EQ(CommitPass(folder.Path().c_str(), tooLong.Slots(), tooLong.Count()), UPDATE_E_IO);
    EXPECT_EQ(ReadText(folder / "uninst.lst"), std::string("\0", 1));
}

TEST(CommitPass, ANullSlotBelowTheCountIsPassedOver) {
    TempFolder folder("null");
    Stage(folder, "b.dat", "new b");
    ASSERT_TRUE(WriteText(folder / "uninst.lst", std::string("\0", 1)));
    const char* slots[] = {nullptr, "b.dat", nullptr};
    EXPECT_EQ(CommitPass(folder.Path().c_str(), slots, 2), UPDATE_OK);
    EXPECT_EQ(ReadText(folder / "b.dat"), "new b");
    // The uninstall list walks up to the first null slot.
    EXPECT_EQ(ReadText(folder / "uninst.lst"), std::string("\0", 1));
}

// ---- the outcome of the list steps -------------------------------------------

TEST(CommitPass, WithoutEntriesThePruningAndTheUninstallListDecide) {
    TempFolder folder("zero");
    ASSERT_TRUE(WriteText(folder / "here.dat", "x"));
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", HashValueListBytes({Record("gone", 1), Record("here.dat", 2)})));
    const InstallNames none(std::vector<std::string>{});
    EXPECT_EQ(CommitPass(folder.Path().c_str(), none.Slots(), 0), UPDATE_E_UNINSTALL_LIST);
    EXPECT_EQ(ReadBytes(folder / "KVX.hvl"), HashValueListBytes({Record("here.dat", 2)}));

    const std::string old("one\r\ntwo\n\0", 10);
    ASSERT_TRUE(WriteText(folder / "uninst.lst", old));
    EXPECT_EQ(CommitPass(folder.Path().c_str(), none.Slots(), 0), UPDATE_OK);
    EXPECT_EQ(ReadText(folder / "uninst.lst"), old);
}

TEST(CommitPass, AMissingUninstallListFailsAfterEveryFileIsInPlace) {
    TempFolder folder("nolist");
    Stage(folder, "a.dat", "new a", "old a");
    Stage(folder, "b.dat", "new b");
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", HashValueListBytes({Record("b.dat", 1), Record("c.dat", 2)})));
    const InstallNames names({"a.dat", "b.dat"});
    EXPECT_EQ(CommitPass(folder.Path().c_str(), names.Slots(), names.Count()), UPDATE_E_UNINSTALL_LIST);
    EXPECT_EQ(ReadText(folder / "a.dat"), "new a");
    EXPECT_EQ(ReadText(folder / "b.dat"), "new b");
    EXPECT_EQ(ReadBytes(folder / "KVX.hvl"), HashValueListBytes({Record("b.dat", 1)}));
    EXPECT_FALSE(Exists(folder / "uninst.lst")) << "the list is never created";
    ExpectNoScratchFiles(folder);
}

TEST(CommitPass, WorksInAFolderWhoseNameHasATrailByteOfBackslash) {
    TempFolder base("sjis");
    const std::string soft = "\x83\x5C\x83\x74\x83\x67";  // ソフト
    const std::string folder = base / soft;
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string name = "\x83\x5C.dat";  // ソ.dat
    ASSERT_TRUE(WriteText(folder + "\\" + name + ".tmp", "new"));
    ASSERT_TRUE(WriteWholeFile(folder + "\\KVX.hvl", HashValueListBytes({Record(name, 1), Record("gone", 2)})));
    ASSERT_TRUE(WriteText(folder + "\\uninst.lst", std::string("\0", 1)));
    const InstallNames names({name});
    EXPECT_EQ(CommitPass(folder.c_str(), names.Slots(), names.Count()), UPDATE_OK);
    EXPECT_EQ(ReadText(folder + "\\" + name), "new");
    EXPECT_EQ(ReadBytes(folder + "\\KVX.hvl"), HashValueListBytes({Record(name, 1)}));
    EXPECT_EQ(ReadText(folder + "\\uninst.lst"), name + "\n" + std::string("\0", 1));
}

// ---- the pruning ---------------------------------------------------------------

TEST(PruneHashValueList, KeepsRecordsOfFilesAndFoldersInTheirOrder) {
    TempFolder folder("prune");
    ASSERT_TRUE(CreateDirectoryA((folder / "data").c_str(), nullptr));
    ASSERT_TRUE(WriteText(folder / "data\\one.arc", "1"));
    ASSERT_TRUE(WriteText(folder / "two.arc", "2"));
    const std::vector<TestRecord> records = {Record("gone1", 1), Record("data\\one.arc", 2), Record("gone2", 3),
                                             Record("data", 4), Record("data/gone3", 5), Record("TWO.ARC", 6)};
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", HashValueListBytes(records, 0x12345678)));
    PruneHashValueList(folder.Path().c_str());
    EXPECT_EQ(ReadBytes(folder / "KVX.hvl"),
              HashValueListBytes({Record("data\\one.arc", 2), Record("data", 4), Record("TWO.ARC", 6)}, 0x12345678));
    ExpectNoScratchFiles(folder);
}

TEST(PruneHashValueList, KeepsTheFirstTwelveHeaderBytesAndDropsSurplusBytes) {
    TempFolder folder("header");
    ASSERT_TRUE(WriteText(folder / "kept", "k"));
    Bytes list = HashValueListBytes({Record("kept", 7), Record("gone", 8)}, 0xDEADBEEF, "WRONG!!!");
    const Bytes surplus = {1, 2, 3, 4, 5};
    list.insert(list.end(), surplus.begin(), surplus.end());
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", list));
    PruneHashValueList(folder.Path().c_str());
    EXPECT_EQ(ReadBytes(folder / "KVX.hvl"), HashValueListBytes({Record("kept", 7)}, 0xDEADBEEF, "WRONG!!!"));
}

TEST(PruneHashValueList, AllRecordsMissingLeaveTheBareHeader) {
    TempFolder folder("empty");
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", HashValueListBytes({Record("a", 1), Record("b", 2)}, 5)));
    PruneHashValueList(folder.Path().c_str());
    const Bytes pruned = ReadBytes(folder / "KVX.hvl");
    EXPECT_EQ(pruned.size(), 16u);
    EXPECT_EQ(CountOf(pruned), 0u);
    EXPECT_EQ(pruned, HashValueListBytes({}, 5));
}

TEST(PruneHashValueList, KeepsRecordsItCannotProbeInsideTheFolder) {
    TempFolder outside("probe-out");
    TempFolder folder("probe");
    const std::string outsideName = outside.Path().substr(outside.Path().rfind('\\') + 1);
    Bytes unterminated = HashValueListBytes({Record(std::string(RECORD_PATH_SIZE, 'u'), 1)});
    std::vector<TestRecord> records = {
        Record("..\\" + outsideName + "\\absent", 2),  // not inside the folder
        Record("C:\\absent", 3),
        Record("", 4),
        Record("gone", 5),
        Record(std::string(55, 'L'), 6),  // too long for a path in this folder
    };
    Bytes list = HashValueListBytes(records);
    list[12] = 6;
    list.insert(list.end(), unterminated.begin() + 16, unterminated.end());
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", list));

    // A deep folder so that the 55-byte record does not fit a path.
    std::string deep = folder.Path();
    while (deep.size() + 1 + 55 < MAX_PATH) {
        deep += "\\dddddddddddddddddddd";
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    }
    ASSERT_TRUE(MoveFileA((folder / "KVX.hvl").c_str(), (deep + "\\KVX.hvl").c_str()));
    PruneHashValueList(deep.c_str());

    Bytes expected = HashValueListBytes({records[0], records[1], records[2], records[4]});
    expected[12] = 5;
    expected.insert(expected.end(), unterminated.begin() + 16, unterminated.end());
    EXPECT_EQ(ReadBytes(deep + "\\KVX.hvl"), expected);
}

TEST(PruneHashValueList, LeavesListsThatCannotHoldTheirRecordsAlone) {
    TempFolder folder("short");
    const Bytes full = HashValueListBytes({Record("gone1", 1), Record("gone2", 2)});
    const std::vector<Bytes> damaged = {
        Bytes(),
        Bytes(full.begin(), full.begin() + 15),
        Bytes(full.begin(), full.end() - 1),  // shorter than 16 + n x 64
        [&] { Bytes b = full; b[12] = 0xFF; b[13] = 0xFF; b[14] = 0xFF; b[15] = 0xFF; return b; }(),
        [&] { Bytes b = full; b[12] = 0x01; b[15] = 0x04; return b; }(),  // n x 64 wraps to 64 in 32 bits
    };
    for (size_t i = 0; i < damaged.size(); ++i) {
        ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", damaged[i]));
        PruneHashValueList(folder.Path().c_str());
        EXPECT_EQ(ReadBytes(folder / "KVX.hvl"), damaged[i]) << "case " << i;
        ExpectNoScratchFiles(folder);
    }
    ASSERT_TRUE(DeleteFileA((folder / "KVX.hvl").c_str()));
    PruneHashValueList(folder.Path().c_str());
    EXPECT_FALSE(Exists(folder / "KVX.hvl"));
}

TEST(PruneHashValueList, LeavesAListOfFourGibibytesAndMoreAlone) {
    TempFolder folder("huge");
    // Sparse: the low 32 bits of the size alone would describe a sound list.
    const Bytes list = HashValueListBytes({Record("gone", 1)});
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", list));
    {
        HANDLE h = CreateFileA((folder / "KVX.hvl").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        LARGE_INTEGER end;
        end.QuadPart = (1LL << 32) + static_cast<LONGLONG>(list.size());
        const bool grown = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) && SetEndOfFile(h);
        CloseHandle(h);
        if (!grown) GTEST_SKIP() << "this file system cannot hold a sparse 4 GiB file";
    }
    PruneHashValueList(folder.Path().c_str());
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA((folder / "KVX.hvl").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeHigh, 1u);
    EXPECT_EQ(data.nFileSizeLow, list.size());
    ExpectNoScratchFiles(folder);
}

TEST(PruneHashValueList, LeavesAReadOnlyHiddenOrSystemListUnchanged) {
    for (const DWORD attributes : {DWORD{FILE_ATTRIBUTE_READONLY}, DWORD{FILE_ATTRIBUTE_HIDDEN},
                                   DWORD{FILE_ATTRIBUTE_SYSTEM}}) {
        TempFolder folder("attributes");
        const Bytes list = HashValueListBytes({Record("gone", 1)});
        ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", list));
        ASSERT_TRUE(SetFileAttributesA((folder / "KVX.hvl").c_str(), attributes));
        PruneHashValueList(folder.Path().c_str());
        EXPECT_EQ(ReadBytes(folder / "KVX.hvl"), list) << attributes;
        EXPECT_EQ(GetFileAttributesA((folder / "KVX.hvl").c_str()) & ~DWORD{FILE_ATTRIBUTE_ARCHIVE}, attributes);
        ExpectNoScratchFiles(folder);
    }
}

// Names that an earlier build used for the lists' scratch files are game files
// like any other; the scratch files now end in ".tmp", which no install name does.
TEST(CommitPass, FilesNamedLikeTheListsWithASuffixAreInstalledAndKept) {
    TempFolder folder("scratchnames");
    Stage(folder, "KVX.hvl.new", "new list-named file");
    Stage(folder, "uninst.lst.new", "new uninst-named file");
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl",
                               HashValueListBytes({Record("KVX.hvl.new", 1), Record("uninst.lst.new", 2)})));
    ASSERT_TRUE(WriteWholeFile(folder / "uninst.lst", Bytes(1, 0)));
    const InstallNames names({"KVX.hvl.new", "uninst.lst.new"});
    EXPECT_EQ(CommitPass(folder.Path().c_str(), names.Slots(), names.Count()), UPDATE_OK);
    EXPECT_EQ(ReadText(folder / "KVX.hvl.new"), "new list-named file");
    EXPECT_EQ(ReadText(folder / "uninst.lst.new"), "new uninst-named file");
    EXPECT_EQ(CountOf(ReadBytes(folder / "KVX.hvl")), 2u) << "both records name present files";
    EXPECT_EQ(ReadText(folder / "uninst.lst"), std::string("KVX.hvl.new\nuninst.lst.new\n\0", 28));
    ExpectNoScratchFiles(folder);
}

TEST(PruneHashValueList, ReplacesAStaleScratchFileAndLeavesAFolderThereAlone) {
    TempFolder folder("stale");
    ASSERT_TRUE(WriteText(folder / INSTALLED_LIST_SCRATCH_NAME, "stale scratch of an earlier run"));
    ASSERT_TRUE(SetFileAttributesA((folder / INSTALLED_LIST_SCRATCH_NAME).c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", HashValueListBytes({Record("gone", 1)})));
    PruneHashValueList(folder.Path().c_str());
    EXPECT_EQ(ReadBytes(folder / "KVX.hvl"), HashValueListBytes({}));
    ExpectNoScratchFiles(folder);

    const Bytes list = HashValueListBytes({Record("gone", 1)});
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", list));
    ASSERT_TRUE(CreateDirectoryA((folder / INSTALLED_LIST_SCRATCH_NAME).c_str(), nullptr));
    PruneHashValueList(folder.Path().c_str());
    EXPECT_EQ(ReadBytes(folder / "KVX.hvl"), list);
}

TEST(PruneHashValueList, LeavesTheListAloneWhenMemoryRunsOut) {
    TempFolder folder("memory");
    const Bytes list = HashValueListBytes({Record("gone", 1), Record("gone too", 2)});
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", list));
    {
        NothrowAllocationFailure failing(1);
        PruneHashValueList(folder.Path().c_str());
        EXPECT_GT(NothrowAllocationFailure::Refused(), 0u);
    }
    EXPECT_EQ(ReadBytes(folder / "KVX.hvl"), list);
}

// ---- links, devices and a full disk, set up on the host -------------------------

TEST(PruneHashValueList, ALinkPlantedAtTheScratchNameIsReplacedNotFollowed) {
    TempFolder outside("victim");
    TempFolder folder("planted");
    const std::string victim = "precious bytes outside the folder";
    ASSERT_TRUE(WriteText(outside / "victim", victim));
    std::string output;
    const int status = RunUnixShell("ln -s " + Quoted(UnixPathOf(outside / "victim")) + " " +
                                        Quoted(UnixPathOf(folder / INSTALLED_LIST_SCRATCH_NAME)),
                                    &output);
    if (status != 0) GTEST_SKIP() << "cannot make a host symbolic link: " << output;
    ASSERT_EQ(ReadText(folder / INSTALLED_LIST_SCRATCH_NAME), victim) << "the link resolves";

    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", HashValueListBytes({Record("gone", 1)})));
    PruneHashValueList(folder.Path().c_str());
    EXPECT_EQ(ReadText(outside / "victim"), victim);
    EXPECT_EQ(ReadBytes(folder / "KVX.hvl"), HashValueListBytes({}));
    ExpectNoScratchFiles(folder);
}

TEST(CommitPass, ALinkAtATargetNameIsReplacedAndWhatItPointsToIsLeftAlone) {
    TempFolder outside("target");
    TempFolder folder("linked");
    const std::string victim = "a read-only file outside the folder";
    ASSERT_TRUE(WriteText(outside / "victim", victim));
    ASSERT_TRUE(SetFileAttributesA((outside / "victim").c_str(), FILE_ATTRIBUTE_READONLY));
    std::string output;
    const int status = RunUnixShell(
        "ln -s " + Quoted(UnixPathOf(outside / "victim")) + " " + Quoted(UnixPathOf(folder / "a.dat")), &output);
    if (status != 0) GTEST_SKIP() << "cannot make a host symbolic link: " << output;
    Stage(folder, "a.dat", "new a");
    ASSERT_TRUE(WriteText(folder / "uninst.lst", std::string("\0", 1)));

    const InstallNames names({"a.dat"});
    EXPECT_EQ(CommitPass(folder.Path().c_str(), names.Slots(), names.Count()), UPDATE_OK);
    EXPECT_EQ(ReadText(folder / "a.dat"), "new a");
    EXPECT_EQ(ReadText(outside / "victim"), victim);
    EXPECT_TRUE(GetFileAttributesA((outside / "victim").c_str()) & FILE_ATTRIBUTE_READONLY)
        << "the attributes of the file a link points to are not reset";
}

TEST(PruneHashValueList, LeavesADeviceOrAPipeAtTheListsNameAlone) {
    TempFolder folder("device");
    WithDeviceAndPipeAt(folder / "KVX.hvl", [&](const std::string&) {
        PruneHashValueList(folder.Path().c_str());
        ExpectNoScratchFiles(folder);
    });
}

TEST(CommitPass, AFullDiskLeavesBothListsIntact) {
    TempFolder base("full");
    const std::string folder = base / "disk";
    SmallDisk disk(folder);
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a small file system here: " << disk.reason;

    const Bytes hashList = HashValueListBytes({Record("a.dat", 1), Record("gone", 2)});
    const std::string uninstallList("old\n\0", 5);
    ASSERT_TRUE(WriteWholeFile(folder + "\\KVX.hvl", hashList));
    ASSERT_TRUE(WriteText(folder + "\\uninst.lst", uninstallList));
    ASSERT_TRUE(WriteText(folder + "\\a.dat.tmp", "new a"));
    ASSERT_TRUE(FillDisk(folder)) << "the small disk did not fill up";

    const InstallNames names({"a.dat"});
    EXPECT_EQ(CommitPass(folder.c_str(), names.Slots(), names.Count()), UPDATE_E_UNINSTALL_LIST);
    EXPECT_EQ(ReadText(folder + "\\a.dat"), "new a");
    EXPECT_EQ(ReadBytes(folder + "\\KVX.hvl"), hashList);
    EXPECT_EQ(ReadText(folder + "\\uninst.lst"), uninstallList);
    EXPECT_FALSE(Exists(folder + "\\" + INSTALLED_LIST_SCRATCH_NAME));
    EXPECT_FALSE(Exists(folder + "\\" + UNINSTALL_LIST_SCRATCH_NAME));

    ASSERT_TRUE(DeleteFileA((folder + "\\filler").c_str()));
    EXPECT_EQ(CommitPass(folder.c_str(), names.Slots(), 0), UPDATE_OK) << "with room again both lists update";
    EXPECT_EQ(ReadBytes(folder + "\\KVX.hvl"), HashValueListBytes({Record("a.dat", 1)}));
    EXPECT_EQ(ReadText(folder + "\\uninst.lst"), std::string("old\na.dat\n\0", 11));
}

}  // namespace
