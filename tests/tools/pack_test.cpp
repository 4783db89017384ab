#include <gtest/gtest.h>

#include <dirent.h>
#include <ftw.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pack_build.h"
#include "pack_diff.h"
#include "pack_inspect.h"
#include "pack_preview.h"
#include "pack_sign.h"
#include "pack_verify.h"
#include "pack_list.h"
#include "pack_text.h"
#include "package/running_checksum.h"
#include "support/package_builder.h"
#include "support/pe_stub.h"
#include "tools/pack_fixtures.h"

namespace {

using namespace pack_fixtures;
using testing_support::StubShape;

// "ソフト" in UTF-8 and in Shift-JIS; the trail byte of "ソ" is 0x5C.
const std::string SOFUTO_UTF8 = u8"ソフト";
const std::string SOFUTO_SJIS = "\x83\x5C\x83\x74\x83\x67";


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

TEST(PackBuild, NameLengthLimits) {
    {
        // Only the list's name can use the whole field: a file's name must fit its record too.
        Workbench bench;
        bench.Add("x", 1);
        bench.options.listName = std::string(LONG_NAME_SIZE - 1, 'n');
        EXPECT_TRUE(BuildPatch(bench.options).ok) << "95 bytes fit the long index";
        std::remove(bench.options.out.c_str());
        bench.options.listName += "n";
        ExpectRefused(bench, "at most 95");
    }
    {
        Workbench bench;
        bench.Add("x", 1, "d/" + std::string(RECORD_PATH_SIZE - 3, 'p'));
        EXPECT_TRUE(BuildPatch(bench.options).ok) << "55 bytes fit a record";
        std::remove(bench.options.out.c_str());
        bench.options.inputs[0].installPath += "p";
        ExpectRefused(bench, "at most 55");
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
        EXPECT_TRUE(BuildPatch(bench.options).ok) << "15 bytes fit the short index";
        std::remove(bench.options.out.c_str());
        bench.options.inputs[0].installPath += "s";
        ExpectRefused(bench, "at most 15");
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

TEST(PackInspect, RejectsWhatTheUpdaterRejects) {
    Workbench bench;
    bench.Add("a.arc", 1000);
    bench.Add("b.arc", 10);
    ASSERT_TRUE(BuildPatch(bench.options).ok);
    const Bytes good = ReadFile(bench.options.out);
    const auto problemsOf = [&](const Bytes& bytes) { return bench.InspectAltered(bytes).problems.size(); };
    EXPECT_EQ(problemsOf(good), 0u);
    EXPECT_GT(problemsOf(Bytes(good.begin(), good.begin() + PACKAGE_OFFSET + 15)), 0u) << "too short";
    EXPECT_GT(problemsOf(Bytes(good.begin(), good.begin() + PACKAGE_OFFSET + 16 + 200)), 0u) << "index cut short";
    Bytes tooMany = good;
    PutU32(tooMany, PACKAGE_OFFSET + 12, 33);
    EXPECT_GT(problemsOf(tooMany), 0u);
    Bytes unterminated = good;
    std::memset(unterminated.data() + PACKAGE_OFFSET + 16 + 128, 'n', LONG_NAME_SIZE);
    EXPECT_GT(problemsOf(unterminated), 0u);
    EXPECT_GT(problemsOf(Bytes(good.begin(), good.end() - 1)), 0u) << "data past the end";
    Bytes flipped = good;
    flipped[good.size() - 20] ^= 1;
    EXPECT_EQ(problemsOf(flipped), 1u) << "a checksum differs";
    // Once found, the list must load whole from its entry, or the updater ends
    // the run as damaged before its first entry; the preview says so too.
    const size_t list = PACKAGE_OFFSET + 16 + 3 * 128;
    Bytes wrongMagic = good, pastTheEntry = good;
    wrongMagic[list] = 'X';
    PutU32(pastTheEntry, list + 12, 3);  // a.arc's first bytes would be the third record
    const std::vector<std::pair<Bytes, std::string>> damagedLists = {
        {wrongMagic, "its magic is not \"KHV_____\""}, {pastTheEntry, "its records run past its entry's size"}};
    for (const auto& c : damagedLists) {
        const Inspection in = bench.InspectAltered(c.first);
        ASSERT_EQ(in.problems.size(), 1u) << c.second;
        EXPECT_EQ(in.problems[0], "the list in entry 0 KVX.hvl cannot be loaded (" + c.second + "): a damaged package");
        EXPECT_EQ(in.verdict.result, UPDATE_E_CORRUPT);
        char* text = nullptr;
        size_t length = 0;
        FILE* out = open_memstream(&text, &length);
        ASSERT_NE(out, nullptr);
        PrintInspection(in, false, out);
        std::fclose(out);
        EXPECT_NE(std::string(text, length).find("list       entry 0, damaged: " + c.second + "\n"), std::string::npos)
            << text;
        std::free(text);
        Preview preview;
        std::string error;
        ASSERT_TRUE(PreviewPatch(bench.Altered(), bench.folder / ".", preview, error)) << error;
        EXPECT_EQ(preview.result, UPDATE_E_CORRUPT) << c.second;
        EXPECT_TRUE(preview.entries.empty()) << "no entry is reached";
    }
    // A name Windows refuses ("b?arc", then without a record) is met when its file is to be made.
    Bytes unusable = good;
    unusable[PACKAGE_OFFSET + 16 + 2 * 128 + 1] = '?';
    const Inspection in = bench.InspectAltered(unusable);
    ASSERT_EQ(in.problems.size(), 1u);
    EXPECT_EQ(in.problems[0], "entry 2 b?arc: install name \"b?arc\" holds a character Windows refuses in file "
                              "names: the updater cannot create its file");
    EXPECT_EQ(in.verdict.result, UPDATE_E_IO);
    Preview preview;
    std::string error;
    ASSERT_TRUE(PreviewPatch(bench.Altered(), bench.folder / ".", preview, error)) << error;
    EXPECT_EQ(preview.result, UPDATE_E_IO);
    EXPECT_EQ(preview.failedEntry, 2);
}


TEST(PackInspect, WarnsAboutWhatTheUpdaterTakesButAPublisherWouldNotWant) {
    Workbench bench;
    WriteFile(bench.options.stub, MinimalProgram());
    bench.Add("a.arc", 1000);
    bench.Add("b.arc", 10);
    ASSERT_TRUE(BuildPatch(bench.options).ok);
    const Bytes good = ReadFile(bench.options.out);
    const std::string altered = bench.Altered();
    const auto warningsOf = [&](const Bytes& bytes) {
        const Inspection in = bench.InspectAltered(bytes);
        std::string all = in.problems.empty() ? "" : "rejected\n";
        for (const std::string& warning : in.warnings) all += warning + "\n";
        return all;
    };
    EXPECT_EQ(warningsOf(good), "");
    const size_t list = PACKAGE_OFFSET + 16 + 3 * 128;
    Bytes changed = good;
    changed[PACKAGE_OFFSET + 11] = '1';
    // Read as 32-byte entries the index is garbage, so the patch is refused as well.
    EXPECT_NE(warningsOf(changed).find("differs from \"VORMEL ARC20\" in 1 byte"), std::string::npos);
    changed = good;
    changed[PACKAGE_OFFSET + 16] = 'X';  // the list's entry is "XVX.hvl": no list
    EXPECT_EQ(warningsOf(changed).find("no list is loaded (no entry named"), 0u);
    changed = good;
    changed[PACKAGE_OFFSET - 1] = 1;
    EXPECT_EQ(warningsOf(changed).find("the program image is not followed by zero bytes"), 0u);
    changed = good;
    changed.push_back(0);
    EXPECT_EQ(warningsOf(changed), "1 bytes after the last entry are no signature\n");
    changed = good;
    PutU32(changed, list + 12, testing_support::ReadU32(good, list + 12) + 1);  // reads on into a.arc
    PutU32(changed, PACKAGE_OFFSET + 16 + LONG_NAME_SIZE + 4, testing_support::ReadU32(good, PACKAGE_OFFSET + 16 + LONG_NAME_SIZE + 4) - 64);
    EXPECT_EQ(warningsOf(changed), "rejected\n64 bytes of data belong to no entry\n");

    changed = good;
    changed.push_back(0);
    WriteFile(altered, changed);
    const CliRun strict = Cli("inspect --strict " + Quote(altered));
    EXPECT_EQ(strict.status, 1);
    EXPECT_NE(strict.output.find("sundrift-pack: inspect: warning: "), std::string::npos) << strict.output;
    EXPECT_EQ(Cli("inspect " + Quote(altered)).status, 0);
    EXPECT_EQ(Cli("inspect --strict " + Quote(bench.options.out)).status, 0);
    EXPECT_NE(Cli("inspect --json " + Quote(altered)).output.find("\"warnings\": [\n    \""), std::string::npos);
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

TEST(PackText, FoldAndConversion) {
    std::string sjis;
    ASSERT_TRUE(Utf8ToCp932(SOFUTO_UTF8, sjis));
    EXPECT_EQ(sjis, SOFUTO_SJIS);
    EXPECT_FALSE(Utf8ToCp932(u8"\u00A5", sjis)) << "the yen sign would become a backslash";
    EXPECT_FALSE(Utf8ToCp932("\xFF", sjis)) << "not UTF-8";
    std::u32string upper, lower;
    ASSERT_TRUE(FoldedKey("\x82\x60\x83\x9F\x84\x40\x84\x46\x87\x54Z", upper));  // Ａ Α А Ё Ⅰ Z
    ASSERT_TRUE(FoldedKey("\x82\x81\x83\xBF\x84\x70\x84\x76\xFA\x40z", lower));  // ａ α а ё ⅰ z
    EXPECT_EQ(upper, lower);
    EXPECT_FALSE(FoldedKey("\x85\x40", upper)) << "an unassigned pair is no text";
    // Columns as a terminal shows them: kanji and full-width forms take two, half-width kana one.
    EXPECT_EQ(PadToColumns(u8"\u97F3\uFF21.arc", 10), u8"\u97F3\uFF21.arc  ");
    EXPECT_EQ(PadToColumns(u8"\uFF71.arc", 6), u8"\uFF71.arc ");
    EXPECT_EQ(PadToColumns("longer.arc", 4), "longer.arc");
}

TEST(PackCli, ExitCodes) {
    EXPECT_EQ(Cli("").status, 2);
    EXPECT_EQ(Cli("frobnicate").status, 2);
    EXPECT_EQ(Cli("build --out x.exe a.arc").status, 2) << "no --stub";
    EXPECT_EQ(Cli("build --stub s.exe --out x.exe --bogus a.arc").status, 2);
    EXPECT_EQ(Cli("build --stub s.exe --out").status, 2);
    EXPECT_EQ(Cli("inspect").status, 2);

    Workbench bench;
    const Bytes data = bench.Add("a.arc", 5000);
    const std::string build = "build --stub " + Quote(bench.options.stub) + " --out " + Quote(bench.options.out);
    const std::string input = Quote(bench.options.inputs[0].file + "=dir/A.arc");
    EXPECT_EQ(Cli(build + " " + input).status, 2) << "neither --base-list nor --no-base-list";
    EXPECT_EQ(Cli(build + " --no-base-list --base-list b.hvl " + input).status, 2);
    const CliRun built = Cli(build + " --no-base-list " + input);
    EXPECT_EQ(built.status, 0) << built.output;
    EXPECT_EQ(built.output, "sundrift-pack: wrote " + bench.options.out + ": 2 entries (the list and 1 files), " +
                                std::to_string(ReadFile(bench.options.out).size()) + " bytes\n");
    const CliRun quiet = Cli(build + " --no-base-list --quiet " + input);
    EXPECT_EQ(quiet.status, 0) << quiet.output;
    EXPECT_EQ(quiet.output, "");

    const CliRun inspected = Cli("inspect " + Quote(bench.options.out));
    EXPECT_EQ(inspected.status, 0) << inspected.output;
    EXPECT_NE(inspected.output.find("dir\\A.arc"), std::string::npos) << inspected.output;
    const CliRun json = Cli("inspect --json " + Quote(bench.options.out));
    EXPECT_EQ(json.status, 0);
    EXPECT_NE(json.output.find("\"accepted\": true"), std::string::npos) << json.output;

    const CliRun checksum = Cli("checksum " + Quote(bench.options.inputs[0].file));
    EXPECT_EQ(checksum.status, 0);
    char expected[17];
    const Bytes sum = ChecksumOf(data);
    for (int i = 0; i < 8; ++i) std::snprintf(expected + 2 * i, 3, "%02x", sum[i]);
    EXPECT_EQ(checksum.output, std::string(expected) + "  " + bench.options.inputs[0].file + "\n");
    EXPECT_EQ(Cli("checksum -- " + Quote(bench.options.inputs[0].file)).output, checksum.output);
    EXPECT_EQ(Cli("checksum -x").status, 2);
    // With --json a failure is an object on standard output as well.
    const std::string nowhere = Quote(bench.folder / "nowhere");
    for (const std::string& command :
         {"verify --json " + nowhere, "inspect --json " + nowhere, "diff --json --stub x --out x " + nowhere + " ."}) {
        const CliRun failed = Cli(command);
        EXPECT_EQ(failed.status, 1) << command;
        EXPECT_NE(failed.output.find("{\n  \"error\": \""), std::string::npos) << command << failed.output;
    }

    const CliRun refused = Cli(build + " --no-base-list " + Quote(bench.options.inputs[0].file + "=../A.arc"));
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(std::count(refused.output.begin(), refused.output.end(), '\n'), 1) << refused.output;
    EXPECT_NE(refused.output.find("../A.arc"), std::string::npos) << refused.output;

    Bytes patch = ReadFile(bench.options.out);
    patch.pop_back();
    WriteFile(bench.options.out, patch);
    EXPECT_EQ(Cli("inspect " + Quote(bench.options.out)).status, 1) << "data past the end";
    EXPECT_EQ(Cli("checksum " + Quote(bench.folder / "missing")).status, 1);
}

// ---- The publisher's workflow: two versions of the game, a patch, its signature.


TEST(PackDiff, PacksNewAndChangedFilesUnderTheirPaths) {
    TwoVersions versions;
    versions.options.dryRun = true;
    DiffPlan plan = versions.Plan();
    ASSERT_TRUE(plan.refusals.empty()) << plan.refusals[0];
    EXPECT_FALSE(plan.written);
    EXPECT_EQ(versions.folder.Names(), (std::set<std::string>{"new", "old", "stub.exe"})) << "a dry run writes nothing";
    ASSERT_EQ(plan.files.size(), 3u);
    const DiffFile& changed = plan.files[0];
    EXPECT_EQ(changed.path, "a.arc");
    EXPECT_EQ(changed.status, FileStatus::CHANGED);
    EXPECT_EQ(changed.record, RecordFate::UPDATED);
    EXPECT_EQ(ChecksumBytes(changed.oldChecksum), ChecksumOf(versions.old["a.arc"]));
    EXPECT_EQ(ChecksumBytes(changed.newChecksum), ChecksumOf(versions.fresh["a.arc"]));
    EXPECT_EQ(plan.files[1].path, "data/n.arc");
    EXPECT_EQ(plan.files[1].status, FileStatus::NEW);
    EXPECT_EQ(plan.files[1].record, RecordFate::ADDED);
    EXPECT_EQ(plan.files[2].status, FileStatus::UNCHANGED);
    EXPECT_EQ(plan.files[2].record, RecordFate::KEPT);
    EXPECT_EQ(plan.missing, std::vector<std::string>{"gone.txt"});
    EXPECT_EQ(plan.skipped, (std::vector<std::string>{"KVX.hvl", "uninst.lst"})) << "the updater keeps its lists";
    ASSERT_EQ(plan.warnings.size(), 1u);
    EXPECT_NE(plan.warnings[0].find("never deletes"), std::string::npos) << plan.warnings[0];

    versions.options.dryRun = false;
    plan = versions.Plan();
    ASSERT_TRUE(plan.written) << (plan.refusals.empty() ? "" : plan.refusals[0]);
    Inspection inspection;
    std::string error;
    ASSERT_TRUE(InspectPatch(versions.options.build.out, inspection, error)) << error;
    EXPECT_TRUE(inspection.problems.empty());
    ASSERT_EQ(inspection.verdict.entries.size(), 3u);
    EXPECT_EQ(inspection.verdict.entries[1].storedName, "a.arc");
    EXPECT_EQ(inspection.verdict.entries[2].storedName, "n.arc");
    ASSERT_EQ(inspection.verdict.records.size(), 4u);
    EXPECT_EQ(RecordPath(inspection.verdict.records[0]), "a.arc");
    EXPECT_EQ(ChecksumBytes(inspection.verdict.records[0].checksum), ChecksumOf(versions.fresh["a.arc"]));
    EXPECT_EQ(ChecksumBytes(inspection.verdict.records[1].checksum), ChecksumOf(versions.old["data/s.arc"])) << "kept";
    EXPECT_EQ(RecordPath(inspection.verdict.records[3]), "data\\n.arc");
}

// A new file named like a listed one in another folder gets a record of its
// own, where the updater finds it first; the listed file keeps its record.
TEST(PackDiff, NewFileNamedLikeAListedOneElsewhere) {
    TwoVersions versions;
    versions.fresh["a.arc"] = versions.old["a.arc"];
    versions.fresh["data/a.arc"] = GeneratedBytes(700, 7);
    const DiffPlan plan = versions.Plan();
    ASSERT_TRUE(plan.written) << (plan.refusals.empty() ? "" : plan.refusals[0]);
    const auto added = std::find_if(plan.files.begin(), plan.files.end(),
                                    [](const DiffFile& file) { return file.path == "data/a.arc"; });
    ASSERT_NE(added, plan.files.end());
    EXPECT_EQ(added->record, RecordFate::ADDED);
    Inspection inspection;
    std::string error;
    ASSERT_TRUE(InspectPatch(versions.options.build.out, inspection, error)) << error;
    ASSERT_GE(inspection.verdict.records.size(), 2u);
    EXPECT_EQ(RecordPath(inspection.verdict.records[0]), "data\\a.arc");
    EXPECT_EQ(ChecksumBytes(inspection.verdict.records[0].checksum), ChecksumOf(versions.fresh["data/a.arc"]));
    EXPECT_EQ(RecordPath(inspection.verdict.records[1]), "a.arc");
    EXPECT_EQ(ChecksumBytes(inspection.verdict.records[1].checksum), ChecksumOf(versions.old["a.arc"]));
}

// What the walk cannot pack is named: a link to nothing is left out with a
// warning, and a folder link back up the tree is not walked to the system's limit.
TEST(PackDiff, LinksNamed) {
    TwoVersions versions;
    versions.options.dryRun = true;
    versions.Plan();
    ASSERT_EQ(symlink("nothing", (versions.options.newDir + "/data/gone.arc").c_str()), 0);
    DiffPlan plan;
    std::string error;
    ASSERT_TRUE(PlanDiff(versions.options, plan, error)) << error;
    std::string warnings;
    for (const std::string& warning : plan.warnings) warnings += warning + "\n";
    EXPECT_NE(warnings.find("\"data/gone.arc\" in the new version is neither a file nor a folder that"), std::string::npos)
        << warnings;
    ASSERT_EQ(symlink("..", (versions.options.newDir + "/data/up").c_str()), 0);
    EXPECT_FALSE(PlanDiff(versions.options, plan, error));
    EXPECT_NE(error.find("folder \"data/up\" is a link back to the top folder"), std::string::npos) << error;
}

TEST(PackDiff, RefusesWhatTheUpdaterCannotDoNamingTheFiles) {
    const auto refused = [](const std::function<void(TwoVersions&)>& change, const std::string& mention,
                            bool withList = true) {
        TwoVersions versions;
        change(versions);
        const DiffPlan plan = versions.Plan(withList);
        std::string all;
        for (const std::string& refusal : plan.refusals) all += refusal + "\n";
        EXPECT_NE(all.find(mention), std::string::npos) << all;
        EXPECT_FALSE(plan.written);
        EXPECT_EQ(versions.folder.Names(), (std::set<std::string>{"new", "old", "stub.exe"})) << mention;
    };
    refused([](TwoVersions& v) { v.fresh["extra/x.arc"] = GeneratedBytes(9, 7); }, "creates no folders): \"extra/x.arc\"");
    refused([](TwoVersions& v) { v.fresh["A.ARC"] = GeneratedBytes(9, 8); }, "\"A.ARC\", \"a.arc\"");
    refused([](TwoVersions& v) {
        for (int i = 0; i < 30; ++i) v.fresh["f" + std::to_string(i) + ".arc"] = GeneratedBytes(9, 9 + i);
    }, "32 files to pack and the list make 33 entries");
    refused([](TwoVersions&) {}, "--base-list", false);
    refused([](TwoVersions& v) { v.fresh = v.old; }, "nothing to pack");
    refused([](TwoVersions& v) {
        v.options.dryRun = true;
        v.options.build.out = v.folder / "nowhere/patch.exe";
    }, "/nowhere\", which does not exist");
    // Files of either version that the patch does not pack are no output either.
    refused([](TwoVersions& v) { v.options.build.out = v.options.oldDir + "/gone.txt"; }, "/old/gone.txt\", which");
    refused([](TwoVersions& v) { v.options.build.out = v.options.newDir + "/data/s.arc"; }, "/new/data/s.arc\", which");
}

TEST(PackVerify, ReportsMatchingDifferingAndMissingFiles) {
    Folder folder;
    const std::string game = folder / "game";
    GameFiles files = {{"a.arc", GeneratedBytes(100, 1)}, {"Data/B.arc", GeneratedBytes(200, 2)}, {"c.arc", GeneratedBytes(300, 3)}};
    WriteGame(game, files, {"a.arc", "data\\b.arc", "c.arc", "d.arc"});
    WriteFile(game + "/c.arc", GeneratedBytes(300, 4));
    Verification verification;
    std::string error;
    ASSERT_TRUE(VerifyGame(game, false, verification, error)) << error;
    ASSERT_EQ(verification.records.size(), 4u);
    EXPECT_EQ(verification.records[1].state, RecordState::MATCHES) << "found ignoring letter case, as on Windows";
    EXPECT_EQ(verification.records[2].state, RecordState::DIFFERS);
    EXPECT_EQ(verification.records[3].state, RecordState::MISSING);
    EXPECT_EQ(verification.matching, 2u);
    EXPECT_FALSE(VerificationPassed(verification, false));

    WriteFile(game + "/c.arc", files["c.arc"]);
    ASSERT_TRUE(VerifyGame(game, false, verification, error));
    EXPECT_TRUE(VerificationPassed(verification, false)) << "a missing file alone passes";
    EXPECT_FALSE(VerificationPassed(verification, true)) << "but not with --strict";
    EXPECT_FALSE(VerifyGame(folder / "nowhere", false, verification, error));

    // A path out of the game folder is not read, and what cannot be examined
    // (here a link to itself) is no missing file: neither passes.
    const std::string other = folder / "other";
    WriteGame(other, {{"a.arc", files["a.arc"]}}, {"a.arc", "..\\outside.arc", "loop.arc"});
    WriteFile(folder / "outside.arc", files["a.arc"]);
    ASSERT_EQ(symlink("loop.arc", (other + "/loop.arc").c_str()), 0);
    ASSERT_TRUE(VerifyGame(other, false, verification, error)) << error;
    ASSERT_EQ(verification.records.size(), 3u);
    EXPECT_EQ(verification.records[1].state, RecordState::UNREADABLE);
    EXPECT_FALSE(verification.records[1].checksummed);
    EXPECT_EQ(verification.records[2].state, RecordState::UNREADABLE);
    EXPECT_FALSE(VerificationPassed(verification, false));
}

// A throwaway self-signed certificate for an extended key usage ("codeSigning").
bool MakeCertificate(const std::string& name, const std::string& usage, const std::string& cert,
                     const std::string& key) {
    return ShellRun("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=" + name +
                    "' -addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=" + usage +
                    " -keyout " + Quote(key) + " -out " + Quote(cert))
               .status == 0;
}

// A built patch of one file and a publisher's certificate, to be signed into signed.exe.
struct SigningBench {
    Workbench bench;
    SignOptions options;
    bool ready = false;

    explicit SigningBench(size_t size) {
        WriteFile(bench.options.stub, MinimalProgram());
        bench.Add("a.arc", size);
        options.patch = bench.options.out;
        options.cert = bench.folder / "cert.pem";
        options.key = bench.folder / "key.pem";
        options.out = bench.folder / "signed.exe";
        ready = BuildPatch(bench.options).ok &&
                MakeCertificate("Sundrift Test Publisher", "codeSigning", options.cert, options.key);
    }
};

TEST(PackSign, SignsTheWholePatchAndInspectFindsTheSignature) {
    SigningBench signing(300000);
    ASSERT_TRUE(signing.ready);
    Workbench& bench = signing.bench;
    SignOptions& options = signing.options;
    const std::string cert = options.cert;
    std::string error;
    ASSERT_TRUE(SignPatch(options, error)) << error;
    EXPECT_EQ(ShellRun("osslsigncode verify -CAfile " + Quote(cert) + " -in " + Quote(options.out)).status, 0);

    Inspection before, after;
    ASSERT_TRUE(InspectPatch(bench.options.out, before, error));
    ASSERT_TRUE(InspectPatch(options.out, after, error));
    EXPECT_FALSE(IsSigned(before));
    ASSERT_TRUE(IsSigned(after));
    EXPECT_GE(after.image.certificateOffset, after.dataEnd);
    EXPECT_LT(after.image.certificateOffset - after.dataEnd, CERTIFICATE_ALIGNMENT);
    EXPECT_EQ(after.image.certificateOffset + after.image.certificateSize, after.verdict.fileSize);
    EXPECT_TRUE(after.problems.empty() && after.warnings.empty());

    SignOptions again = options;
    again.patch = options.out;
    again.out = bench.folder / "twice.exe";
    EXPECT_FALSE(SignPatch(again, error));
    EXPECT_NE(error.find("signed already"), std::string::npos) << error;
    again.patch = bench.options.stub;
    EXPECT_FALSE(SignPatch(again, error)) << "not a patch";
    again.patch = bench.options.out;
    again.out = options.key;
    const Bytes key = ReadFile(options.key);
    EXPECT_FALSE(SignPatch(again, error));
    EXPECT_NE(error.find("is the same file as"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(options.key), key);
    again.out = bench.folder / "twice.exe";
    again.key = cert;
    EXPECT_FALSE(SignPatch(again, error)) << "no key";
    EXPECT_EQ(bench.folder.Names(),
              (std::set<std::string>{"a.arc", "cert.pem", "key.pem", "patch.exe", "signed.exe", "stub.exe"}))
        << "a refused or failed signing leaves nothing behind";

    // One byte of the package changed: the signature no longer holds.
    Bytes tampered = ReadFile(options.out);
    tampered[after.verdict.entries[1].position + 1000] ^= 1;
    WriteFile(bench.folder / "tampered.exe", tampered);
    EXPECT_NE(ShellRun("osslsigncode verify -CAfile " + Quote(cert) + " -in " + Quote(bench.folder / "tampered.exe")).status, 0);

    Bytes extended = ReadFile(options.out);
    extended.resize(extended.size() + 16, 0);
    WriteFile(bench.folder / "extended.exe", extended);
    Inspection inspection;
    ASSERT_TRUE(InspectPatch(bench.folder / "extended.exe", inspection, error));
    ASSERT_EQ(inspection.warnings.size(), 1u);
    EXPECT_NE(inspection.warnings[0].find(" bytes after the last entry are no signature"), std::string::npos);
    Bytes padded = ReadFile(bench.options.out);
    padded.push_back(0);
    WriteFile(bench.options.out, padded);
    ASSERT_TRUE(InspectPatch(bench.options.out, inspection, error));
    EXPECT_EQ(inspection.warnings, std::vector<std::string>{"1 bytes after the last entry are no signature"});
    EXPECT_FALSE(SignPatch(options, error));
    EXPECT_NE(error.find("after its last entry"), std::string::npos) << error;
}

// A time-stamping server named with --timestamp countersigns the signature, so
// it stays valid after the certificate expires; one that cannot be reached
// fails the signing and leaves nothing behind.
TEST(PackSign, TimestampFromTheNamedServer) {
    SigningBench signing(1000);
    ASSERT_TRUE(signing.ready);
    const Workbench& bench = signing.bench;
    SignOptions& options = signing.options;
    const std::string tsaCert = bench.folder / "tsa.pem", tsaKey = bench.folder / "tsa-key.pem";
    ASSERT_TRUE(MakeCertificate("Sundrift Test Time Stamps", "critical,timeStamping", tsaCert, tsaKey));
    const std::string config = bench.folder / "tsa.cnf";
    WriteFile(config, BytesOf("[ tsa ]\ndefault_tsa = tsa_config\n[ tsa_config ]\nserial = " + bench.folder / "serial" +
                              "\nsigner_cert = " + tsaCert + "\nsigner_key = " + tsaKey +
                              "\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\n"
                              "ess_cert_id_alg = sha256\n"));
    WriteFile(bench.folder / "serial", BytesOf("01\n"));
    const CliRun started = ShellRun(Quote(TIMESTAMP_SERVER) + " " + Quote(config));
    int port = 0, server = 0;
    ASSERT_EQ(std::sscanf(started.output.c_str(), "%d %d", &port, &server), 2) << started.output;
    struct Server {
        pid_t pid;
        void Stop() {
            if (pid > 0) kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
            pid = 0;
        }
        ~Server() { Stop(); }
    } running{server};

    options.timestamp = "http://127.0.0.1:" + std::to_string(port);
    std::string error;
    ASSERT_TRUE(SignPatch(options, error)) << error;
    const CliRun verified = ShellRun("osslsigncode verify -CAfile " + Quote(options.cert) + " -TSA-CAfile " + Quote(tsaCert) +
                                     " -in " + Quote(options.out));
    EXPECT_EQ(verified.status, 0) << verified.output;
    EXPECT_NE(verified.output.find("Timestamp Server Signature verification: ok"), std::string::npos)
        << verified.output;

    running.Stop();
    options.out = bench.folder / "unstamped.exe";
    EXPECT_FALSE(SignPatch(options, error));
    EXPECT_NE(error.find("signing"), std::string::npos) << error;
    for (const std::string& name : bench.folder.Names()) EXPECT_EQ(name.find("unstamped"), std::string::npos) << name;
}

TEST(PackCli, WorkflowCommands) {
    EXPECT_EQ(Cli("diff onlyone --stub s.exe --out p.exe").status, 2);
    EXPECT_EQ(Cli("diff old new --out p.exe").status, 2) << "no --stub";
    EXPECT_EQ(Cli("verify").status, 2);
    EXPECT_EQ(Cli("preview patch.exe").status, 2);
    EXPECT_EQ(Cli("sign patch.exe --cert c.pem").status, 2) << "no --key";

    TwoVersions versions;
    versions.Plan();
    const std::string diff = "diff " + Quote(versions.options.oldDir) + " " + Quote(versions.options.newDir) +
                             " --stub " + Quote(versions.options.build.stub) + " --out " +
                             Quote(versions.options.build.out);
    const CliRun planned = Cli(diff + " --dry-run");
    EXPECT_EQ(planned.status, 0) << planned.output;
    EXPECT_NE(planned.output.find("\nnew        data/n.arc "), std::string::npos) << planned.output;
    EXPECT_EQ(Cli(diff).status, 0);

    const CliRun previewed = Cli("preview " + Quote(versions.options.build.out) + " " + Quote(versions.options.oldDir));
    EXPECT_EQ(previewed.status, 0) << previewed.output;
    EXPECT_NE(previewed.output.find("uninst.lst appends \"data\\n.arc\""), std::string::npos) << previewed.output;
    EXPECT_NE(previewed.output.find("4 records kept, 0 dropped"), std::string::npos) << previewed.output;
    std::remove((versions.options.oldDir + "/uninst.lst").c_str());
    const CliRun failing = Cli("preview " + Quote(versions.options.build.out) + " " + Quote(versions.options.oldDir));
    EXPECT_EQ(failing.status, 1);
    EXPECT_NE(failing.output.find("UPDATE_E_UNINSTALL_LIST (exit code 0x80000005)"), std::string::npos) << failing.output;

    const CliRun verified = Cli("verify " + Quote(versions.options.oldDir));
    EXPECT_EQ(verified.status, 0);
    EXPECT_EQ(verified.output.find('%'), std::string::npos) << "progress only on a terminal: " << verified.output;
    // script(1) gives the packer a terminal.
    const CliRun onTerminal = ShellRun("script -qec \"" + Quote(PACKER_PATH) + " verify " +
                                       Quote(versions.options.oldDir) + "\" /dev/null");
    EXPECT_NE(onTerminal.output.find("100%"), std::string::npos) << onTerminal.output;
    EXPECT_EQ(Cli("verify --strict " + Quote(versions.options.newDir)).status, 1) << "no list in the new folder";
}

// A build interrupted by a signal removes its temporary file and leaves the
// earlier patch as it was. The packer is held inside its build, after the
// temporary file exists, by a lease on its input: its open waits until the
// lease is given up, and the lease's break tells the test when it is there.
TEST(PackCli, SignalRemovesTheTemporaryFile) {
    Workbench bench;
    bench.Add("a.arc", 5000);
    const Bytes earlier = GeneratedBytes(300, 3);
    WriteFile(bench.options.out, earlier);
    std::signal(SIGIO, SIG_IGN);  // the break's own notice; the lease state is read instead
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const int held = open(bench.options.inputs[0].file.c_str(), O_RDWR);
        ASSERT_GE(held, 0);
        ASSERT_EQ(fcntl(held, F_SETLEASE, F_WRLCK), 0) << std::strerror(errno);
        const pid_t packer = fork();
        ASSERT_GE(packer, 0);
        if (packer == 0) {
            for (const int reset : {SIGINT, SIGTERM, SIGHUP}) std::signal(reset, SIG_DFL);
            execl(PACKER_PATH, PACKER_PATH, "build", "--quiet", "--no-base-list", "--stub", bench.options.stub.c_str(),
                  "--out", bench.options.out.c_str(), bench.options.inputs[0].file.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        while (fcntl(held, F_GETLEASE) == F_WRLCK) usleep(1000);  // until the packer opens the input
        EXPECT_EQ(bench.folder.Names().size(), 4u) << "the temporary file stands beside the patch";
        kill(packer, signal);
        int status = 0;
        ASSERT_EQ(waitpid(packer, &status, 0), packer);
        close(held);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
        EXPECT_EQ(bench.folder.Names(), (std::set<std::string>{"stub.exe", "a.arc", "patch.exe"})) << signal;
        EXPECT_EQ(ReadFile(bench.options.out), earlier);
    }
    std::signal(SIGIO, SIG_DFL);
}

// A full disk: the message says so, and nothing is left on it.
TEST(PackCli, FullDiskNamedAsSuch) {
    Workbench bench;
    bench.Add("a.arc", 10);
    const std::string disk = bench.folder / "disk";
    ASSERT_EQ(mkdir(disk.c_str(), 0700), 0);
    if (mount("sundrift-pack-full", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
        rmdir(disk.c_str());
        GTEST_SKIP() << "no small file system to fill: " << std::strerror(errno);
    }
    const CliRun run = Cli("build --no-base-list --stub " + Quote(bench.options.stub) + " --out " +
                           Quote(disk + "/patch.exe") + " " + Quote(bench.options.inputs[0].file));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("No space left on device"), std::string::npos) << run.output;
    DIR* left = opendir(disk.c_str());
    int names = 0;
    while (left && readdir(left)) ++names;
    if (left) closedir(left);
    EXPECT_EQ(names, 2) << "only . and .. on the full disk";
    umount(disk.c_str());
    rmdir(disk.c_str());
}

// Refusals that name their cause in words a publisher can act on.
TEST(PackCli, MessagesNameTheCause) {
    Workbench bench;
    bench.Add("a.arc", 10);
    const std::string build = "build --no-base-list --stub " + Quote(bench.options.stub) + " --out " +
                              Quote(bench.options.out) + " ";
    const auto refusal = [](const CliRun& run) {
        EXPECT_EQ(run.status, 1) << run.output;
        return run.output;
    };
    EXPECT_NE(refusal(Cli("checksum " + Quote(bench.folder / "."))).find(": is a folder"), std::string::npos);
    EXPECT_NE(refusal(Cli(build + Quote(bench.folder / "a=b.arc"))).find("the first \"=\" in"), std::string::npos);
    const std::string tilde = refusal(Cli(build + Quote(bench.options.inputs[0].file + u8"=a\u301Cb\u2212.arc")));
    EXPECT_NE(tilde.find(u8"write \"\uFF5E\" (U+FF5E) for \"\u301C\" (U+301C)"), std::string::npos) << tilde;
    EXPECT_NE(tilde.find(u8"write \"\uFF0D\" (U+FF0D) for \"\u2212\" (U+2212)"), std::string::npos) << tilde;

    // A pipe no one writes to is refused at once, not waited on.
    const std::string pipe = bench.folder / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& command : {"inspect " + Quote(pipe), "preview " + Quote(pipe) + " " + Quote(bench.folder / "."),
                                       build + Quote(pipe)}) {
        EXPECT_NE(refusal(Cli(command)).find(": is a device, a pipe or a socket"), std::string::npos) << command;
    }
    unlink(pipe.c_str());
}

// Inside a Wine prefix the game folder's Windows name is known, and with it
// whether the updater's paths fit; elsewhere the lengths cannot be judged.
TEST(PackPreview, PathLengthsJudgedInsideAWinePrefix) {
    Workbench bench;
    bench.Add("n.arc", 10, std::string(51, 'n') + ".arc");
    bench.options.baseList.clear();
    ASSERT_TRUE(BuildPatch(bench.options).ok);
    const auto previewed = [&](const std::string& parent) {
        const std::string game = parent + "/" + std::string(200, 'g');
        EXPECT_EQ(ShellRun("mkdir -p " + Quote(game) + " && printf '\\0' > " + Quote(game + "/uninst.lst")).status, 0);
        Preview preview;
        std::string error;
        EXPECT_TRUE(PreviewPatch(bench.options.out, game, preview, error, false)) << error;
        return preview;
    };
    const Preview inPrefix = previewed(bench.folder / "prefix/drive_c/G");  // C:\G\ggg...: 205 bytes
    EXPECT_EQ(inPrefix.result, UPDATE_E_IO);
    EXPECT_NE(inPrefix.failure.find("too long"), std::string::npos) << inPrefix.failure;
    EXPECT_EQ(previewed(bench.folder / "plain").result, UPDATE_OK);
}

// The lists' paths are the longest the updater builds in the game folder for
// short names: "C:\ggg..." of 248 bytes is updated, while at 249 bytes
// "uninst.lst" no longer fits and is left as it is.
TEST(PackPreview, ListPathsJudgedInsideAWinePrefix) {
    Workbench bench;
    bench.Add("a.arc", 10, "a.arc");
    bench.options.baseList.clear();
    bench.options.listName = "l";
    ASSERT_TRUE(BuildPatch(bench.options).ok);
    for (const size_t length : {size_t{248}, size_t{249}}) {
        const std::string game = bench.folder / ("prefix/drive_c/" + std::string(length - 3, 'g'));
        ASSERT_EQ(ShellRun("mkdir -p " + Quote(game) + " && printf '\\0' > " + Quote(game + "/uninst.lst")).status, 0);
        Preview preview;
        std::string error;
        ASSERT_TRUE(PreviewPatch(bench.options.out, game, preview, error, false)) << error;
        EXPECT_EQ(preview.result, length == 248 ? UPDATE_OK : UPDATE_E_UNINSTALL_LIST) << length;
        EXPECT_TRUE(preview.committed) << length;
    }
}

}  // namespace
