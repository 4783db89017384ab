#include "package/hash_value_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "package/lower_case.h"
#include "support/package_builder.h"
#include "support/win_files.h"

using namespace testing_support;

namespace {

// "ソフト" in Shift-JIS: the trail byte of "ソ" is 0x5C, the code of "\".
const std::string SOFUTO = "\x83\x5C\x83\x74\x83\x67";

Bytes Checksum(uint8_t seed) { return ChecksumOf(Bytes(5, seed)); }

struct LoadedList {
    UpdateResult result = UPDATE_E_CORRUPT;
    UpdateResult indexResult = UPDATE_E_CORRUPT;
    PackageIndex index;
    HashValueList list;
};

// Writes the patch to a real file and loads index and list the way the update run does.
LoadedList Load(const Bytes& patch) {
    TempFolder folder("hvl");
    const std::string path = folder / "patch.exe";
    EXPECT_TRUE(WriteWholeFile(path, patch));
    LoadedList loaded;
    FileHandle image;
    loaded.indexResult = LoadPackageIndexFromFile(path.c_str(), image, loaded.index);
    if (loaded.indexResult == UPDATE_OK) loaded.result = LoadHashValueList(loaded.index, image, loaded.list);
    return loaded;
}

LoadedList LoadEntries(const std::vector<TestEntry>& entries) { return Load(PatchBytes(PackageBytes(entries))); }

std::string PathOf(const HashValueList& list, uint32_t i) { return list.records[i].path; }

// A list header with the given count and no records after it.
Bytes BareHeader(uint32_t count) {
    Bytes header = HashValueListBytes({});
    header[12] = static_cast<uint8_t>(count);
    header[13] = static_cast<uint8_t>(count >> 8);
    header[14] = static_cast<uint8_t>(count >> 16);
    header[15] = static_cast<uint8_t>(count >> 24);
    return header;
}

TEST(LoadHashValueList, FirstEntryNamedKvxHvlInAnyCaseIsTheList) {
    const Bytes first = HashValueListBytes({{"one.arc", Checksum(1)}});
    const Bytes second = HashValueListBytes({{"two.arc", Checksum(2)}, {"three.arc", Checksum(3)}});
    LoadedList l = LoadEntries({{"data.arc", Bytes(10, 7)}, {"kVx.HvL", first}, {"KVX.hvl", second}});
    ASSERT_EQ(l.result, UPDATE_OK);
    ASSERT_EQ(l.list.count, 1u);
    EXPECT_EQ(PathOf(l.list, 0), "one.arc");

    // The second entry of that name is only an ordinary entry: its own name, unverified.
    const RecordMatch match = LookUpRecord(l.list, EntryName(l.index, 2));
    EXPECT_STREQ(match.installName, "KVX.hvl");
    EXPECT_EQ(match.installName, EntryName(l.index, 2));
    EXPECT_EQ(match.checksum, nullptr);
}

TEST(LoadHashValueList, ADamagedFirstListIsADamagedPackageWhateverFollows) {
    const Bytes good = HashValueListBytes({{"one.arc", Checksum(1)}});
    const Bytes bad = HashValueListBytes({{"one.arc", Checksum(1)}}, 0, "KHV____-");
    LoadedList l = LoadEntries({{"KVX.hvl", bad}, {"kvx.hvl", good}});
    EXPECT_EQ(l.result, UPDATE_E_CORRUPT);
    EXPECT_EQ(l.list.count, 0u);
}

TEST(LoadHashValueList, NoListEntryMeansAbsent) {
    LoadedList l = LoadEntries({{"data.arc", HashValueListBytes({{"data.arc", Checksum(1)}})},
                                {"kvx.hvl.bak", HashValueListBytes({{"data.arc", Checksum(1)}})}});
    ASSERT_EQ(l.result, UPDATE_OK);
    EXPECT_EQ(l.list.count, 0u);
    EXPECT_EQ(LookUpRecord(l.list, "data.arc").checksum, nullptr);
}

TEST(LoadHashValueList, CountZeroIsAnEmptyList) {
    LoadedList l = LoadEntries({{"KVX.hvl", HashValueListBytes({})}, {"data.arc", Bytes(3, 1)}});
    ASSERT_EQ(l.result, UPDATE_OK);
    EXPECT_EQ(l.list.count, 0u);
    const RecordMatch match = LookUpRecord(l.list, EntryName(l.index, 1));
    EXPECT_EQ(match.installName, EntryName(l.index, 1));
    EXPECT_EQ(match.checksum, nullptr);
}

TEST(LoadHashValueList, EveryMagicByteCounts) {
    for (const char* magic : {"KHV____ ", "khv_____", "XHV_____", "KHV_____"}) {
        LoadedList l = LoadEntries({{"KVX.hvl", HashValueListBytes({{"a.arc", Checksum(1)}}, 0, magic)}});
        const bool right = std::strcmp(magic, HASH_VALUE_MAGIC) == 0;
        EXPECT_EQ(l.result, right ? UPDATE_OK : UPDATE_E_CORRUPT) << magic;
        EXPECT_EQ(l.list.count, right ? 1u : 0u) << magic;
    }
}

TEST(LoadHashValueList, ReservedIsNotExamined) {
    LoadedList l = LoadEntries({{"KVX.hvl", HashValueListBytes({{"a.arc", Checksum(1)}}, 0xDEADBEEF)}});
    ASSERT_EQ(l.result, UPDATE_OK);
    EXPECT_EQ(l.list.count, 1u);
}

TEST(LoadHashValueList, AShortHeaderIsADamagedPackage) {
    Bytes header = HashValueListBytes({});
    header.resize(10);
    for (const std::vector<TestEntry>& entries : {std::vector<TestEntry>{{"KVX.hvl", header}},
                                                  // The header's rest from the next entry: a count of 0.
                                                  std::vector<TestEntry>{{"KVX.hvl", header}, {"a.arc", Bytes(6, 0)}}}) {
        LoadedList l = LoadEntries(entries);
        EXPECT_EQ(l.result, UPDATE_E_CORRUPT) << entries.size();
        EXPECT_EQ(l.list.count, 0u);
    }
}

TEST(LoadHashValueList, RecordsPastTheEndOfTheFileAreADamagedPackage) {
    Bytes two = HashValueListBytes({{"a.arc", Checksum(1)}, {"b.arc", Checksum(2)}});
    two[12] = 3;  // one record more than the file holds
    LoadedList l = LoadEntries({{"KVX.hvl", two}});
    EXPECT_EQ(l.result, UPDATE_E_CORRUPT);
    EXPECT_EQ(l.list.count, 0u);

    // Counts whose byte total is huge, or wraps in 32 bits, without any attempt to allocate them.
    for (uint32_t count : {0x7FFFFFFFu, 0xFFFFFFFFu, 0x04000001u, 0x04000000u}) {
        LoadedList huge = LoadEntries({{"KVX.hvl", BareHeader(count)}, {"a.arc", Bytes(64, 'a')}});
        EXPECT_EQ(huge.result, UPDATE_E_CORRUPT) << std::hex << count;
        EXPECT_EQ(huge.list.count, 0u) << std::hex << count;
    }
}

TEST(LoadHashValueList, RecordsMustLieWithinTheListsEntry) {
    // Count 2 would take the next entry's bytes as the second record.
    Bytes list = HashValueListBytes({{"a.arc", Checksum(1)}});
    list[12] = 2;
    const Bytes next = HashValueListBytes({{"b.arc", Checksum(2)}});
    const Bytes secondRecord(next.begin() + sizeof(HashValueHeader), next.end());
    LoadedList l = LoadEntries({{"KVX.hvl", list}, {"b.arc", secondRecord}});
    EXPECT_EQ(l.result, UPDATE_E_CORRUPT);
    EXPECT_EQ(l.list.count, 0u);

    // Bytes after the last record counted are no fault.
    Bytes longer = HashValueListBytes({{"a.arc", Checksum(1)}});
    longer.resize(longer.size() + 5, 'x');
    LoadedList tail = LoadEntries({{"KVX.hvl", longer}});
    EXPECT_EQ(tail.result, UPDATE_OK);
    EXPECT_EQ(tail.list.count, 1u);
}

TEST(LoadHashValueList, ShortIndexLayout) {
    const Bytes list = HashValueListBytes({{"a.arc", Checksum(1)}});
    LoadedList l = Load(PatchBytes(PackageBytes({{"x.bin", Bytes(9, 1)}, {"Kvx.Hvl", list}}, false)));
    ASSERT_EQ(l.indexResult, UPDATE_OK);
    ASSERT_EQ(l.result, UPDATE_OK);
    EXPECT_FALSE(l.index.longEntries);
    ASSERT_EQ(l.list.count, 1u);
    EXPECT_EQ(PathOf(l.list, 0), "a.arc");
}

// Lookups over a list given directly as records.
HashValueList ListOf(const std::vector<TestRecord>& records) {
    const Bytes bytes = HashValueListBytes(records);
    HashValueList list;
    list.count = static_cast<uint32_t>(records.size());
    list.records.reset(new HashValueRecord[list.count]);
    std::memcpy(list.records.get(), bytes.data() + sizeof(HashValueHeader), list.count * sizeof(HashValueRecord));
    return list;
}

TEST(LookUpRecord, LastComponentMatchesIgnoringCaseAndGivesTheWholePath) {
    const HashValueList list = ListOf({{"other.arc", Checksum(1)}, {"sub\\Data.Arc", Checksum(2)}});
    const RecordMatch match = LookUpRecord(list, "DATA.ARC");
    EXPECT_EQ(match.installName, list.records[1].path);
    EXPECT_STREQ(match.installName, "sub\\Data.Arc");
    EXPECT_EQ(match.checksum, list.records[1].checksum);
}

TEST(LookUpRecord, AnEntryNameWithAFolderMatchesNothing) {
    const HashValueList list = ListOf({{"sub\\Data.Arc", Checksum(2)}});
    const char* stored = "sub\\data.arc";
    const RecordMatch match = LookUpRecord(list, stored);
    EXPECT_EQ(match.installName, stored);
    EXPECT_EQ(match.checksum, nullptr);
}

TEST(LookUpRecord, FirstOfEqualLastComponentsWins) {
    const HashValueList list = ListOf({{"a\\x.arc", Checksum(1)}, {"b\\X.ARC", Checksum(2)}, {"X.arc", Checksum(3)}});
    for (const char* name : {"x.arc", "X.ARC", "X.arc"}) {
        EXPECT_EQ(LookUpRecord(list, name).checksum, list.records[0].checksum) << name;
    }
}

TEST(LookUpRecord, NoPartialOrPrefixMatches) {
    const HashValueList list = ListOf({{"data.arc", Checksum(1)}, {"data", Checksum(2)}});
    EXPECT_EQ(LookUpRecord(list, "data.ar").checksum, nullptr);
    EXPECT_EQ(LookUpRecord(list, "ata.arc").checksum, nullptr);
    EXPECT_EQ(LookUpRecord(list, "data.arc.bak").checksum, nullptr);
    EXPECT_EQ(LookUpRecord(list, "data").checksum, list.records[1].checksum);
}

TEST(LookUpRecord, TrailByte5CIsNotASeparator) {
    const HashValueList list = ListOf({{SOFUTO + "\\x.arc", Checksum(1)}, {SOFUTO, Checksum(2)},
                                       {"dir\\" + SOFUTO + ".arc", Checksum(3)}});
    EXPECT_EQ(LookUpRecord(list, "X.ARC").checksum, list.records[0].checksum);
    EXPECT_EQ(LookUpRecord(list, SOFUTO.c_str()).checksum, list.records[1].checksum);
    EXPECT_EQ(LookUpRecord(list, (SOFUTO + ".ARC").c_str()).checksum, list.records[2].checksum);
    // Cut at the trail byte, "ソ" alone would leave an empty or "フト" name.
    EXPECT_EQ(LookUpRecord(list, "\x83\x74\x83\x67").checksum, nullptr);
}

TEST(LookUpRecord, DoubleByteCapitalsMatchTheirSmallLetters) {
    // "ＤＡＴＡ.arc" recorded, "ｄａｔａ.ARC" packed: full-width letters in both cases.
    const HashValueList list = ListOf({{"\x82\x63\x82\x60\x82\x73\x82\x60.arc", Checksum(1)}});
    EXPECT_EQ(LookUpRecord(list, "\x82\x84\x82\x81\x82\x94\x82\x81.ARC").checksum, list.records[0].checksum);
    EXPECT_EQ(LookUpRecord(list, "data.arc").checksum, nullptr);
}

TEST(LookUpRecord, DrivePrefixAndSlashes) {
    const HashValueList list = ListOf({{"C:drive.arc", Checksum(1)}, {"D:\\dir\\deep.arc", Checksum(2)},
                                       {"dir/sub/slash.arc", Checksum(3)}, {"mixed/a\\b/end.arc", Checksum(4)}});
    EXPECT_EQ(LookUpRecord(list, "drive.arc").checksum, list.records[0].checksum);
    EXPECT_EQ(LookUpRecord(list, "C:drive.arc").checksum, nullptr);
    EXPECT_EQ(LookUpRecord(list, "deep.arc").checksum, list.records[1].checksum);
    EXPECT_EQ(LookUpRecord(list, "slash.arc").checksum, list.records[2].checksum);
    EXPECT_EQ(LookUpRecord(list, "end.arc").checksum, list.records[3].checksum);
}

TEST(LookUpRecord, PathWithoutTerminatorNeverMatches) {
    // A zero checksum right after the path would end it as a string: it still must not match.
    TestRecord full{std::string(RECORD_PATH_SIZE, 'a'), Bytes(CHECKSUM_SIZE, 0)};
    const HashValueList list = ListOf({full, {"b.arc", Checksum(2)}});
    ASSERT_EQ(std::memchr(list.records[0].path, 0, RECORD_PATH_SIZE), nullptr);
    for (size_t length : {RECORD_PATH_SIZE - 1, RECORD_PATH_SIZE, RECORD_PATH_SIZE + 8}) {
        EXPECT_EQ(LookUpRecord(list, std::string(length, 'a').c_str()).checksum, nullptr) << length;
    }
    EXPECT_EQ(LookUpRecord(list, "b.arc").checksum, list.records[1].checksum);
}

TEST(LookUpRecord, AbsentListGivesTheStoredName) {
    const HashValueList list;
    const char* stored = "Data.Arc";
    const RecordMatch match = LookUpRecord(list, stored);
    EXPECT_EQ(match.installName, stored);
    EXPECT_EQ(match.checksum, nullptr);
}

struct Split {
    std::string name;
    std::string extension;
};

Split SplitOf(const std::string& path) {
    const char* name = nullptr;
    const char* extension = nullptr;
    SplitLastComponent(path.c_str(), IsAnsiLeadByte, &name, &extension);
    EXPECT_TRUE(name >= path.c_str() && name <= path.c_str() + path.size()) << path;
    EXPECT_TRUE(extension >= name && extension <= path.c_str() + path.size()) << path;
    return {std::string(name, extension), extension};
}

TEST(SplitLastComponent, NameAndExtension) {
    EXPECT_EQ(SplitOf("data.arc").name, "data");
    EXPECT_EQ(SplitOf("data.arc").extension, ".arc");
    EXPECT_EQ(SplitOf("a.b.c").extension, ".c");
    EXPECT_EQ(SplitOf("sub\\Data.Arc").name, "Data");
    EXPECT_EQ(SplitOf("noext").extension, "");
    EXPECT_EQ(SplitOf("").name, "");
    EXPECT_EQ(SplitOf("dir\\").name, "");
}

TEST(SplitLastComponent, DotInAFolderIsNotTheExtension) {
    EXPECT_EQ(SplitOf("dir.v2\\readme").name, "readme");
    EXPECT_EQ(SplitOf("dir.v2\\readme").extension, "");
    EXPECT_EQ(SplitOf("dir.v2/readme").extension, "");
    EXPECT_EQ(SplitOf("a.b\\c.d\\e").extension, "");
    EXPECT_EQ(SplitOf("dir.v2\\readme.txt").extension, ".txt");
}

TEST(SplitLastComponent, DrivePrefixIsSkipped) {
    EXPECT_EQ(SplitOf("C:x.arc").name, "x");
    EXPECT_EQ(SplitOf("C:\\dir\\x.arc").name, "x");
    EXPECT_EQ(SplitOf("C:").name, "");
    EXPECT_EQ(SplitOf("C").name, "C");
}

TEST(SplitLastComponent, ShiftJisTrailBytesAreNeitherSeparatorsNorDots) {
    EXPECT_EQ(SplitOf(SOFUTO + "\\x.arc").name, "x");
    EXPECT_EQ(SplitOf("dir\\" + SOFUTO).name, SOFUTO);
    EXPECT_EQ(SplitOf(SOFUTO).name, SOFUTO);
    // "表" is 95 5C as well; "ｮ" (AE) is a single byte; 0x2E never trails a lead byte in
    // Shift-JIS, but a lead byte before the terminator must not run past it.
    EXPECT_EQ(SplitOf("\x95\x5C.arc").extension, ".arc");
    const std::string cut = "abc\x83";
    EXPECT_EQ(SplitOf(cut).name, cut);
    EXPECT_EQ(SplitOf(cut).extension, "");
}

}  // namespace
