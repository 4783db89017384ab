// The packer's build: the package and its list as the updater reads them, the
// limits the updater sets, and refusals that leave the folder as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "pack_build.h"
#include "pack_inspect.h"
#include "pack_list.h"
#include "tools/pack_fixtures.h"

namespace {

using namespace pack_fixtures;
using testing_support::StubShape;

// Checks that a refused build says why, naming `mention`, and leaves the folder as it was.
void ExpectRefused(Workbench& bench, const std::string& mention) {
    const std::set<std::string> before = bench.folder.Names();
    const BuildOutcome outcome = BuildPatch(bench.options);
    EXPECT_FALSE(outcome.ok);
    EXPECT_NE(outcome.error.find(mention), std::string::npos) << outcome.error;
    EXPECT_EQ(outcome.error.find('\n'), std::string::npos) << outcome.error;
    EXPECT_EQ(bench.folder.Names(), before) << "a refused build left a file behind";
}

TEST(PackBuild, LongIndexRoundTrip) {
    Workbench bench;
    const Bytes a = bench.Add("data.arc", 3 * 1024 * 1024 + 17);
    const Bytes b = bench.Add("Voice.arc", 1000, "sub/Voice.arc");
    const Bytes c = bench.Add("empty.bin", 0);
    const BuildOutcome outcome = BuildPatch(bench.options);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_TRUE(outcome.warnings.empty());

    const Inspection in = bench.Inspect();
    EXPECT_TRUE(in.problems.empty()) << in.problems[0];
    EXPECT_TRUE(in.verdict.longEntries);
    EXPECT_EQ(std::string(in.verdict.header.magic, PACKAGE_MAGIC_SIZE), std::string(PACKAGE_MAGIC));
    ASSERT_EQ(in.verdict.header.count, 4u);
    EXPECT_EQ(in.verdict.dataBase, PACKAGE_OFFSET + 16 + 4 * 128);
    EXPECT_EQ(in.verdict.entries[0].storedName, "KVX.hvl");
    EXPECT_EQ(in.verdict.entries[0].offset, 0u);
    EXPECT_EQ(in.verdict.entries[0].size, 16u + 3 * 64);
    EXPECT_EQ(in.verdict.entries[1].storedName, "data.arc");
    EXPECT_EQ(in.verdict.entries[2].storedName, "Voice.arc");
    EXPECT_EQ(in.verdict.entries[3].storedName, "empty.bin");
    EXPECT_EQ(in.verdict.entries[3].size, 0u);
    for (size_t j = 1; j < 4; ++j) {
        EXPECT_EQ(in.verdict.entries[j].offset, in.verdict.entries[j - 1].offset + in.verdict.entries[j - 1].size) << "back to back";
    }

    ASSERT_EQ(in.verdict.listState, LIST_LOADED);
    EXPECT_EQ(in.verdict.listEntry, 0);
    EXPECT_EQ(in.verdict.listHeader.reserved, 0u);
    ASSERT_EQ(in.verdict.records.size(), 3u);
    EXPECT_EQ(RecordPath(in.verdict.records[0]), "data.arc");
    EXPECT_EQ(RecordPath(in.verdict.records[1]), "sub\\Voice.arc");
    EXPECT_EQ(RecordPath(in.verdict.records[2]), "empty.bin");
    EXPECT_EQ(ChecksumBytes(in.verdict.records[0].checksum), ChecksumOf(a));
    EXPECT_EQ(ChecksumBytes(in.verdict.records[1].checksum), ChecksumOf(b));
    EXPECT_EQ(ChecksumBytes(in.verdict.records[2].checksum), Bytes(8, 0));
    EXPECT_EQ(in.verdict.entries[0].record, -1);
    EXPECT_EQ(in.verdict.entries[1].record, 0);
    EXPECT_EQ(in.verdict.entries[2].record, 1);
    EXPECT_EQ(in.verdict.entries[3].record, 2);

    // The bytes themselves: stub, zeros, header, and each file at its position.
    const Bytes patch = ReadFile(bench.options.out);
    ASSERT_EQ(patch.size(), in.verdict.dataBase + 16 + 3 * 64 + a.size() + b.size());
    EXPECT_TRUE(std::equal(bench.stub.begin(), bench.stub.end(), patch.begin()));
    EXPECT_TRUE(std::all_of(patch.begin() + bench.stub.size(), patch.begin() + PACKAGE_OFFSET,
                            [](uint8_t x) { return x == 0; }));
    EXPECT_EQ(testing_support::ReadU32(patch, PACKAGE_OFFSET + 12), 4u);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), patch.begin() + in.verdict.entries[1].position));
    EXPECT_TRUE(std::equal(b.begin(), b.end(), patch.begin() + in.verdict.entries[2].position));
    // Unused bytes of the name field and the reserved bytes are zero.
    const size_t entry1 = PACKAGE_OFFSET + 16 + 128;
    EXPECT_TRUE(std::all_of(patch.begin() + entry1 + 8, patch.begin() + entry1 + 96, [](uint8_t x) { return x == 0; }));
    EXPECT_TRUE(std::all_of(patch.begin() + entry1 + 104, patch.begin() + entry1 + 128, [](uint8_t x) { return x == 0; }));
}

TEST(PackBuild, ShortIndexRoundTrip) {
    Workbench bench;
    bench.options.shortIndex = true;
    const Bytes a = bench.Add("a.arc", 5000);
    const Bytes b = bench.Add("b.arc", 7);
    ASSERT_TRUE(BuildPatch(bench.options).ok);
    const Inspection in = bench.Inspect();
    EXPECT_TRUE(in.problems.empty());
    EXPECT_FALSE(in.verdict.longEntries);
    EXPECT_EQ(std::string(in.verdict.header.magic, PACKAGE_MAGIC_SIZE), std::string(SHORT_INDEX_MAGIC));
    EXPECT_EQ(in.verdict.dataBase, PACKAGE_OFFSET + 16 + 3 * 32);
    ASSERT_EQ(in.verdict.entries.size(), 3u);
    EXPECT_EQ(in.verdict.entries[2].storedName, "b.arc");
    ASSERT_EQ(in.verdict.records.size(), 2u);
    EXPECT_EQ(ChecksumBytes(in.verdict.records[0].checksum), ChecksumOf(a));
    EXPECT_EQ(ChecksumBytes(in.verdict.records[1].checksum), ChecksumOf(b));
    EXPECT_EQ(in.verdict.entries[1].record, 0);
    EXPECT_EQ(in.verdict.entries[2].record, 1);
}

// The updater takes the first record whose last component matches, so a file
// under an explicit path gets its record there; another file of that name keeps its own.
TEST(PackBuild, BaseListUpdatedInPlaceKeptAndAppended) {
    Workbench bench;
    const Bytes stale(8, 0xEE);
    WriteFile(bench.folder / "base.hvl",
              ListFile({{"keep1.arc", GeneratedBytes(8, 1)},
                        {"sub\\Data.Arc", stale},
                        {"keep2.exe", GeneratedBytes(8, 2)},
                        {"Other.arc", GeneratedBytes(8, 4)},
                        {"later\\data.arc", GeneratedBytes(8, 3)},
                        {"scene.arc", GeneratedBytes(8, 5)},
                        {"SUB\\Scene.arc", stale}},
                       0x1234));
    bench.options.baseList = bench.folder / "base.hvl";
    const Bytes data = bench.Add("data.arc", 300);                    // takes the base list's path
    const Bytes other = bench.Add("other.arc", 200, "new/OTHER.arc");  // before the other file's record
    const Bytes fresh = bench.Add("fresh.arc", 100);                   // appended
    const Bytes scene = bench.Add("s.arc", 50, "sub/scene.arc");       // its older record moves up
    ASSERT_TRUE(BuildPatch(bench.options).ok);

    const Inspection in = bench.Inspect();
    EXPECT_TRUE(in.problems.empty());
    const std::vector<std::pair<std::string, Bytes>> expected = {
        {"keep1.arc", GeneratedBytes(8, 1)},     {"sub\\Data.Arc", ChecksumOf(data)},
        {"keep2.exe", GeneratedBytes(8, 2)},     {"new\\OTHER.arc", ChecksumOf(other)},
        {"Other.arc", GeneratedBytes(8, 4)},     {"later\\data.arc", GeneratedBytes(8, 3)},
        {"sub\\scene.arc", ChecksumOf(scene)}, {"scene.arc", GeneratedBytes(8, 5)},
        {"fresh.arc", ChecksumOf(fresh)}};
    ASSERT_EQ(in.verdict.records.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(RecordPath(in.verdict.records[i]), expected[i].first) << i;
        EXPECT_EQ(ChecksumBytes(in.verdict.records[i].checksum), expected[i].second) << i;
    }
    EXPECT_EQ(in.verdict.listHeader.reserved, 0x1234u) << "kept, as the updater keeps it";
    // The index names are the last components of the install paths.
    EXPECT_EQ(in.verdict.entries[1].storedName, "Data.Arc");
    EXPECT_EQ(in.verdict.entries[2].storedName, "OTHER.arc");
    const std::vector<int> records = {1, 3, 8, 6};
    for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(in.verdict.entries[i + 1].record, records[i]) << i;
}

TEST(PackBuild, BaseListBytesAfterTheRecordsDroppedWithANote) {
    Workbench bench;
    Bytes base = ListFile({{"a.arc", GeneratedBytes(8, 1)}, {"b.arc", GeneratedBytes(8, 2)}}, 7);
    base.insert(base.end(), {1, 2, 3, 4, 5});
    WriteFile(bench.folder / "base.hvl", base);
    bench.options.baseList = bench.folder / "base.hvl";
    bench.Add("a.arc", 10);
    const BuildOutcome outcome = BuildPatch(bench.options);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    ASSERT_EQ(outcome.warnings.size(), 1u);
    EXPECT_NE(outcome.warnings[0].find("5 bytes after its last record"), std::string::npos) << outcome.warnings[0];
    const Inspection in = bench.Inspect();
    EXPECT_EQ(in.verdict.records.size(), 2u);
    EXPECT_EQ(in.verdict.listHeader.reserved, 7u);
    EXPECT_EQ(in.verdict.entries[0].size, 16u + 2 * 64) << "the list is exactly its records";
}

TEST(PackBuild, BaseListRefusals) {
    {
        Workbench bench;
        Bytes damaged = ListFile({{"a.arc", GeneratedBytes(8, 1)}});
        damaged.pop_back();
        WriteFile(bench.folder / "base.hvl", damaged);
        bench.options.baseList = bench.folder / "base.hvl";
        bench.Add("a.arc", 10);
        ExpectRefused(bench, "base.hvl");
    }
    {
        Workbench bench;
        WriteFile(bench.folder / "base.hvl", ListFile({{"sub\\kvx.HVL", GeneratedBytes(8, 1)}}));
        bench.options.baseList = bench.folder / "base.hvl";
        bench.Add("a.arc", 10);
        ExpectRefused(bench, "names the list itself");
    }
    {
        Workbench bench;
        WriteFile(bench.folder / "base.hvl", ListFile({{"..\\a.arc", GeneratedBytes(8, 1)}}));
        bench.options.baseList = bench.folder / "base.hvl";
        bench.Add("a.arc", 10);
        ExpectRefused(bench, "..");
    }
}

TEST(PackBuild, ListName) {
    Workbench bench;
    bench.options.listName = "kvx.HVL";
    bench.Add("a.arc", 10);
    BuildOutcome outcome = BuildPatch(bench.options);
    ASSERT_TRUE(outcome.ok);
    EXPECT_TRUE(outcome.warnings.empty());
    Inspection in = bench.Inspect();
    EXPECT_EQ(in.verdict.entries[0].storedName, "kvx.HVL");
    EXPECT_EQ(in.verdict.listState, LIST_LOADED);

    // A name the updater would not look for still builds, with a warning.
    bench.options.listName = "files.lst";
    outcome = BuildPatch(bench.options);
    ASSERT_TRUE(outcome.ok);
    ASSERT_EQ(outcome.warnings.size(), 1u);
    in = bench.Inspect();
    EXPECT_EQ(in.verdict.entries[0].storedName, "files.lst");
    EXPECT_NE(in.verdict.listState, LIST_LOADED);
    EXPECT_EQ(in.verdict.entries[1].record, -1);
    EXPECT_TRUE(in.problems.empty());

    for (const char* bad : {"dir/kvx.hvl", "", "con.hvl", "kvx.tmp"}) {
        bench.options.listName = bad;
        ExpectRefused(bench, "list name");
    }
}

TEST(PackBuild, ShiftJisStorage) {
    Workbench bench;
    bench.Add("source.txt", 40, SOFUTO_UTF8 + "/" + SOFUTO_UTF8 + ".txt");
    ASSERT_TRUE(BuildPatch(bench.options).ok);
    const Inspection in = bench.Inspect();
    EXPECT_TRUE(in.problems.empty());
    EXPECT_EQ(in.verdict.entries[1].storedName, SOFUTO_SJIS + ".txt");
    EXPECT_EQ(RecordPath(in.verdict.records[0]), SOFUTO_SJIS + "\\" + SOFUTO_SJIS + ".txt");
    EXPECT_EQ(in.verdict.entries[1].record, 0);

    const Bytes patch = ReadFile(bench.options.out);
    const size_t name = PACKAGE_OFFSET + 16 + 128;
    EXPECT_EQ(std::string(patch.begin() + name, patch.begin() + name + 11), SOFUTO_SJIS + ".txt" + '\0');
}

TEST(PackBuild, EntryLimit) {
    Workbench bench;
    for (int i = 0; i < 31; ++i) bench.Add("f" + std::to_string(i), 1);
    ASSERT_TRUE(BuildPatch(bench.options).ok) << "31 files and the list make 32 entries";
    bench.Add("f31", 1);
    std::remove(bench.options.out.c_str());
    ExpectRefused(bench, "33 entries");
}

TEST(PackBuild, StubLimit) {
    Workbench bench;
    bench.Add("a.arc", 10);
    StubShape largest;
    largest.size = PACKAGE_OFFSET;
    WriteFile(bench.options.stub, StubImage(largest));
    ASSERT_TRUE(BuildPatch(bench.options).ok) << "a stub of exactly 0x40000 bytes fits";
    std::remove(bench.options.out.c_str());
    largest.size = PACKAGE_OFFSET + 1;
    WriteFile(bench.options.stub, StubImage(largest));
    ExpectRefused(bench, "stub.exe");
    bench.options.stub = bench.folder / "missing.exe";
    ExpectRefused(bench, "missing.exe");
}

TEST(PackBuild, StubMustBeAnUnsignedWindowsGuiProgram) {
    Workbench bench;
    bench.Add("a.arc", 10);
    const auto refusedWith = [&](const Bytes& stub, const std::string& mention) {
        WriteFile(bench.options.stub, stub);
        ExpectRefused(bench, mention);
    };
    refusedWith(Bytes(), "not a Windows program");
    refusedWith(Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, "not a Windows program");
    Bytes noPe = StubImage();
    noPe[0x80] = 'X';
    refusedWith(noPe, "not a Windows program");
    refusedWith(StubImage({testing_support::PE_MACHINE_I386, testing_support::PE_SUBSYSTEM_CONSOLE}),
                "not a Windows GUI program");
    refusedWith(StubImage({testing_support::PE_MACHINE_AMD64}), "not a 32-bit (i386) Windows program");
    refusedWith(StubImage({testing_support::PE_MACHINE_I386, testing_support::PE_SUBSYSTEM_GUI, 2048}),
                "sign the finished patch instead");

    // The 64-bit test build of the updater, only when asked for.
    WriteFile(bench.options.stub, StubImage({testing_support::PE_MACHINE_AMD64}));
    bench.options.stubMachine = StubMachine::I386_OR_AMD64;
    EXPECT_TRUE(BuildPatch(bench.options).ok);
    refusedWith(StubImage({testing_support::PE_MACHINE_AMD64, testing_support::PE_SUBSYSTEM_GUI, 100}), "sign");
}

// --out naming a file the patch is made from, under any name, is refused
// before anything is written, and that file is left as it was.
TEST(PackBuild, OutputNeverOverwritesASource) {
    Workbench bench;
    const Bytes a = bench.Add("in1.arc", 5000);
    WriteFile(bench.folder / "base.hvl", ListFile({{"x.arc", GeneratedBytes(8, 1)}}));
    bench.options.baseList = bench.folder / "base.hvl";
    ASSERT_EQ(link((bench.folder / "in1.arc").c_str(), (bench.folder / "hard.arc").c_str()), 0);
    ASSERT_EQ(symlink("in1.arc", (bench.folder / "soft.arc").c_str()), 0);
    const Bytes base = ReadFile(bench.folder / "base.hvl");
    for (const std::string& out : {bench.options.inputs[0].file, bench.folder / "./in1.arc", bench.folder / "hard.arc",
                                   bench.folder / "soft.arc", bench.options.stub, bench.options.baseList}) {
        bench.options.out = out;
        ExpectRefused(bench, "is the same file as");
    }
    EXPECT_EQ(ReadFile(bench.folder / "in1.arc"), a);
    EXPECT_EQ(ReadFile(bench.options.stub), bench.stub);
    EXPECT_EQ(ReadFile(bench.options.baseList), base);

    ASSERT_EQ(mkdir((bench.folder / "dir").c_str(), 0700), 0);
    bench.options.out = bench.folder / "dir";
    ExpectRefused(bench, "is a folder");
    rmdir(bench.options.out.c_str());

    // A pipe (as a device would) stays what it is, not replaced by a patch file.
    ASSERT_EQ(mkfifo((bench.folder / "pipe").c_str(), 0600), 0);
    bench.options.out = bench.folder / "pipe";
    ExpectRefused(bench, "is a device, a pipe or a socket");
    struct stat status;
    EXPECT_TRUE(stat(bench.options.out.c_str(), &status) == 0 && S_ISFIFO(status.st_mode));
    bench.options.out = bench.folder / "pipe/patch.exe";
    ExpectRefused(bench, "/pipe\", which is no folder");
    unlink((bench.folder / "pipe").c_str());
}

// `bench` builds as it stands; with `grow` applied it is refused, naming `mention`.
void ExpectFitsThenRefused(Workbench& bench, const char* fits, const std::function<void()>& grow,
                           const std::string& mention) {
    EXPECT_TRUE(BuildPatch(bench.options).ok) << fits;
    std::remove(bench.options.out.c_str());
    grow();
    ExpectRefused(bench, mention);
}

TEST(PackBuild, NameLengthLimits) {
    {
        // Only the list's name can use the whole field: a file's name must fit its record too.
        Workbench bench;
        bench.Add("x", 1);
        bench.options.listName = std::string(LONG_NAME_SIZE - 1, 'n');
        ExpectFitsThenRefused(bench, "95 bytes fit the long index", [&] { bench.options.listName += "n"; },
                              "at most 95");
    }
    {
        Workbench bench;
        bench.Add("x", 1, "d/" + std::string(RECORD_PATH_SIZE - 3, 'p'));
        ExpectFitsThenRefused(bench, "55 bytes fit a record", [&] { bench.options.inputs[0].installPath += "p"; },
                              "at most 55");
    }
    {
        // 19 characters of two bytes each: 38 bytes of Shift-JIS, 57 of UTF-8.
        Workbench bench;
        std::string kana;
        for (int i = 0; i < 19; ++i) kana += u8"ア";
        bench.Add("x", 1, kana);
        EXPECT_TRUE(BuildPatch(bench.options).ok) << "lengths count Shift-JIS bytes";
    }
    {
        Workbench bench;
        bench.options.shortIndex = true;
        bench.Add("x", 1, "sub/" + std::string(SHORT_NAME_SIZE - 1, 's'));
        ExpectFitsThenRefused(bench, "15 bytes fit the short index",
                              [&] { bench.options.inputs[0].installPath += "s"; }, "at most 15");
    }
    {
        Workbench bench;
        bench.options.shortIndex = true;
        bench.options.listName = "kvx.hvl.long.name";
        bench.Add("x", 1);
        ExpectRefused(bench, "kvx.hvl.long.name");
    }
}

TEST(PackBuild, UnsafeOrUnrepresentablePaths) {
    const char* refused[] = {"/abs.arc", "\\abs.arc", "C:x.arc", "C:\\x.arc", "c:/x.arc", "\\\\server\\share\\x.arc",
                             "//server/share/x.arc", "../x.arc", "a/../../x.arc", "a\\..\\x.arc", "a/./x.arc",
                             "a//x.arc", "dir/", "x.arc:stream", "x?.arc", "x.arc.", "CON", "nul.txt", "a/com1.arc",
                             "notes.tmp", "LPT9.Dat", "a/Aux/b.arc",
                             u8"yen\u00A5.arc", u8"wave\u301C.arc", u8"emoji\U0001F600.arc", u8"\u00E9t\u00E9.arc"};
    for (const char* path : refused) {
        Workbench bench;
        bench.Add("input.bin", 10, path);
        ExpectRefused(bench, "input.bin");
    }
    // The file's own name is checked the same way when no install path is given.
    Workbench bench;
    bench.Add("bad\u00A5name.bin", 10);
    ExpectRefused(bench, "bad");
}

TEST(PackBuild, LastComponentsMustDifferIgnoringCase) {
    const std::pair<std::string, std::string> clashes[] = {
        {"A.arc", "sub/a.ARC"},
        {u8"ＡＢ.arc", u8"ａｂ.arc"},    // full-width Latin
        {u8"ΣΩ.arc", u8"σω.arc"},      // Greek
        {u8"ЖЁ.arc", u8"жё.arc"},      // Cyrillic
        {u8"Ⅳ.arc", u8"ⅳ.arc"},        // Roman numerals
        {"x.arc", "KVX.HVL"},          // the list's own name
    };
    for (const auto& clash : clashes) {
        Workbench bench;
        bench.Add("first.bin", 10, clash.first);
        bench.Add("second.bin", 10, clash.second);
        ExpectRefused(bench, "second.bin");
    }
    // Letters that only look alike are different names.
    Workbench bench;
    bench.Add("first.bin", 10, "A.arc");
    bench.Add("second.bin", 10, u8"Ａ.arc");
    EXPECT_TRUE(BuildPatch(bench.options).ok);
}

TEST(PackBuild, SizeBeyondWhatTheUpdaterCanSeek) {
    Workbench bench;
    bench.Add("small.arc", 10);
    const std::string huge = bench.folder / "huge.arc";
    {
        FILE* file = std::fopen(huge.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fclose(file);
    }
    bench.options.inputs.push_back({huge, "", false});
    // Sparse: the size is what counts, nothing is read before the refusal.
    const uint64_t room = PATCH_SIZE_LIMIT + 1 - (PACKAGE_OFFSET + 16 + 3 * 128) - (16 + 2 * 64) - 10;
    ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(room)), 0);
    ExpectRefused(bench, "huge.arc");
    ASSERT_EQ(truncate(huge.c_str(), static_cast<off_t>(5000000000ull)), 0);
    ExpectRefused(bench, "huge.arc");
}

TEST(PackBuild, FailuresLeaveNothingBehind) {
    Workbench bench;
    bench.Add("a.arc", 10);
    bench.options.inputs.push_back({bench.folder / "missing.arc", "", false});
    ExpectRefused(bench, "missing.arc");

    // The output is a folder: the rename fails after everything was written.
    Workbench folderOut;
    folderOut.Add("a.arc", 10);
    ASSERT_EQ(mkdir(folderOut.options.out.c_str(), 0700), 0);
    ExpectRefused(folderOut, "patch.exe");
    rmdir(folderOut.options.out.c_str());

    // A refused build leaves an earlier patch as it was.
    Workbench earlier;
    earlier.Add("a.arc", 10);
    const Bytes old = GeneratedBytes(123, 7);
    WriteFile(earlier.options.out, old);
    earlier.options.inputs.push_back({earlier.folder / "missing.arc", "", false});
    ExpectRefused(earlier, "missing.arc");
    EXPECT_EQ(ReadFile(earlier.options.out), old);
    // A successful one replaces it.
    earlier.options.inputs.pop_back();
    ASSERT_TRUE(BuildPatch(earlier.options).ok);
    EXPECT_EQ(earlier.folder.Names(), (std::set<std::string>{"stub.exe", "a.arc", "patch.exe"}));
    EXPECT_TRUE(earlier.Inspect().problems.empty());
}

// The updater loads the list from whatever entry is named "KVX.hvl": under
// another list name no file may take that name.
TEST(PackBuild, NoFileTakesTheNameTheListIsLoadedFrom) {
    Workbench bench;
    bench.options.listName = "files.lst";
    bench.Add("a.arc", 10);
    bench.Add("x.bin", 10, "sub/kvx.HVL");
    ExpectRefused(bench, "the entry the updater loads the package's list from");
}

// The same stub and files give the same patch, whatever order the files were
// written in, their times, the time zone, or what the heap held.
TEST(PackBuild, TheSameFilesGiveTheSameBytes) {
    Folder folder;
    const GameFiles files = {{"a.arc", GeneratedBytes(70000, 1)}, {"b.arc", GeneratedBytes(3, 2)},
                             {"sub/c.arc", GeneratedBytes(1000, 3)}, {"z.txt", {}}};
    WriteGame(folder / "first", files, {});
    WriteReversed(folder / "second", files, 1000000000);
    WriteFile(folder / "stub.exe", StubImage());
    WriteFile(folder / "KVX.hvl", ListFile({{"b.arc", Bytes(CHECKSUM_SIZE, 7)}, {"old.arc", Bytes(CHECKSUM_SIZE, 8)}}, 5));
    const auto build = [&](const std::string& copy, const std::string& out) {
        const std::string files = folder / copy;
        return " build --stub " + Quote(folder / "stub.exe") + " --base-list " + Quote(folder / "KVX.hvl") +
               " --out " + Quote(folder / out) + " " + Quote(files + "/z.txt") + " " + Quote(files + "/sub/c.arc") +
               "=sub\\\\c.arc " + Quote(files + "/a.arc") + " " + Quote(files + "/b.arc");
    };
    ASSERT_EQ(CliIn(FIRST_SETTING, build("first", "1.exe")).status, 0);
    ASSERT_EQ(CliIn(SECOND_SETTING, build("second", "2.exe")).status, 0);
    Inspection inspection;
    std::string error;
    ASSERT_TRUE(InspectPatch(folder / "1.exe", inspection, error));
    EXPECT_TRUE(inspection.problems.empty() && inspection.verdict.entries.size() == 5);
    EXPECT_TRUE(ReadFile(folder / "1.exe") == ReadFile(folder / "2.exe"));
}

}  // namespace
