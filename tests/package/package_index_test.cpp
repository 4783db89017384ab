#include "package/package_index.h"

#include <gtest/gtest.h>

#include "support/import_hook.h"
#include "support/package_builder.h"
#include "support/win_files.h"

using namespace testing_support;

namespace {

struct Loaded {
    UpdateResult result;
    PackageIndex index;
};

Loaded LoadBytes(const Bytes& file) {
    TempFolder folder("index");
    const std::string path = folder / "patch.exe";
    EXPECT_TRUE(WriteWholeFile(path, file));
    Loaded loaded;
    FileHandle image;
    loaded.result = LoadPackageIndexFromFile(path.c_str(), image, loaded.index);
    return loaded;
}

std::vector<TestEntry> Entries(size_t n) {
    std::vector<TestEntry> entries;
    for (size_t i = 0; i < n; ++i) entries.push_back({"file" + std::to_string(i) + ".arc", Bytes(i + 1, uint8_t(i))});
    return entries;
}

TEST(PackageIndex, LongLayout) {
    Loaded l = LoadBytes(PatchBytes(PackageBytes(Entries(6))));
    ASSERT_EQ(l.result, UPDATE_OK);
    EXPECT_TRUE(l.index.longEntries);
    EXPECT_EQ(l.index.count, 6u);
    EXPECT_EQ(l.index.dataBase, 0x40310u);
    EXPECT_STREQ(EntryName(l.index, 2), "file2.arc");
    EXPECT_EQ(EntrySize(l.index, 2), 3u);
    EXPECT_EQ(EntryOffset(l.index, 2), 3u);
    EXPECT_EQ(EntryPosition(l.index, 2), 0x40313u);
}

TEST(PackageIndex, AnyOtherMagicSelectsShortLayout) {
    Bytes package = PackageBytes(Entries(6), false);
    Loaded l = LoadBytes(PatchBytes(package));
    ASSERT_EQ(l.result, UPDATE_OK);
    EXPECT_FALSE(l.index.longEntries);
    EXPECT_EQ(l.index.dataBase, 0x400D0u);
    EXPECT_STREQ(EntryName(l.index, 5), "file5.arc");
    EXPECT_EQ(EntrySize(l.index, 5), 6u);

    // One byte off, or another letter case, is not the long magic either.
    for (size_t at : {0u, 6u, 11u}) {
        Bytes altered = PackageBytes(Entries(2));
        altered.resize(16);
        altered[at] = static_cast<uint8_t>(at == 6 ? 'a' : altered[at] ^ 0x20);
        altered.resize(16 + 2 * 32, 0);
        Loaded s = LoadBytes(PatchBytes(altered));
        ASSERT_EQ(s.result, UPDATE_OK) << at;
        EXPECT_FALSE(s.index.longEntries) << at;
    }
}

TEST(PackageIndex, LengthAndHeaderChecks) {
    EXPECT_EQ(LoadBytes(Bytes(PACKAGE_OFFSET - 1, 0)).result, UPDATE_E_CORRUPT);
    EXPECT_EQ(LoadBytes(Bytes(PACKAGE_OFFSET, 0)).result, UPDATE_E_CORRUPT) << "no header after 0x40000";
    EXPECT_EQ(LoadBytes(Bytes(PACKAGE_OFFSET + 15, 0)).result, UPDATE_E_CORRUPT);
}

TEST(PackageIndex, MissingFileIsCorrupt) {
    FileHandle image;
    PackageIndex index;
    EXPECT_EQ(LoadPackageIndexFromFile("C:\\no\\such\\file.exe", image, index), UPDATE_E_CORRUPT);
    EXPECT_FALSE(image.IsOpen());
}

using SetFilePointerFunction = DWORD(WINAPI*)(HANDLE, LONG, PLONG, DWORD);

DWORD WINAPI FailingSetFilePointer(HANDLE, LONG, PLONG, DWORD) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
}

// A failed open or seek is the end: read on, the header would be taken from
// another file, or from the start of this one.
TEST(PackageIndex, AFailedOpenOrSeekIsCorrupt) {
    TempFolder folder("index");
    const std::string other = folder / "other.exe", patch = folder / "patch.exe";
    ASSERT_TRUE(WriteWholeFile(other, PatchBytes(PackageBytes(Entries(6)))));
    // The file's first bytes would pass for the header of an empty package.
    Bytes bytes = PatchBytes(PackageBytes(Entries(3)));
    const Bytes empty = PackageBytes({});
    std::copy(empty.begin(), empty.begin() + sizeof(PackageHeader), bytes.begin());
    ASSERT_TRUE(WriteWholeFile(patch, bytes));
    {
        FileHandle image;
        PackageIndex index;
        ASSERT_TRUE(image.OpenRead(other.c_str()));
        EXPECT_EQ(LoadPackageIndexFromFile(patch.c_str(), image, index), UPDATE_E_CORRUPT) << "open already";
        EXPECT_EQ(index.count, 0u);
    }
    SetFilePointerFunction realSeek = nullptr;
    ASSERT_TRUE(HookImportAs("kernel32.dll", "SetFilePointer", &FailingSetFilePointer, realSeek));
    FileHandle image;
    PackageIndex index;
    const UpdateResult result = LoadPackageIndexFromFile(patch.c_str(), image, index);
    HookImport("kernel32.dll", "SetFilePointer", reinterpret_cast<void*>(realSeek));
    EXPECT_EQ(result, UPDATE_E_CORRUPT) << "the seek failed";
    EXPECT_EQ(index.count, 0u);
}

TEST(PackageIndex, EntryCountLimit) {
    EXPECT_EQ(LoadBytes(PatchBytes(PackageBytes(Entries(32)))).result, UPDATE_OK);
    EXPECT_EQ(LoadBytes(PatchBytes(PackageBytes(Entries(33)))).result, UPDATE_E_TOO_MANY_ENTRIES);
    // The count test comes before the magic test.
    EXPECT_EQ(LoadBytes(PatchBytes(PackageBytes(Entries(33), false))).result, UPDATE_E_TOO_MANY_ENTRIES);
    EXPECT_EQ(LoadBytes(PatchBytes(PackageBytes({}, true, 0xFFFFFFFF - 1))).result, UPDATE_E_TOO_MANY_ENTRIES);
}

TEST(PackageIndex, ZeroEntries) {
    Loaded l = LoadBytes(PatchBytes(PackageBytes({})));
    ASSERT_EQ(l.result, UPDATE_OK);
    EXPECT_EQ(l.index.count, 0u);
    EXPECT_EQ(l.index.dataBase, 0x40010u);
}

TEST(PackageIndex, ShortIndexIsCorrupt) {
    Bytes package = PackageBytes(Entries(3));
    package.resize(16 + 2 * 128 + 100);
    EXPECT_EQ(LoadBytes(PatchBytes(package)).result, UPDATE_E_CORRUPT);
}

TEST(PackageIndex, NameWithoutTerminatorIsCorrupt) {
    std::vector<TestEntry> entries = Entries(2);
    entries[1].name = std::string(LONG_NAME_SIZE, 'x');
    EXPECT_EQ(LoadBytes(PatchBytes(PackageBytes(entries))).result, UPDATE_E_CORRUPT);
    entries[1].name = std::string(LONG_NAME_SIZE - 1, 'x');
    EXPECT_EQ(LoadBytes(PatchBytes(PackageBytes(entries))).result, UPDATE_OK) << "95 bytes of text fit";
    std::vector<TestEntry> shortEntries = Entries(1);
    shortEntries[0].name = std::string(SHORT_NAME_SIZE, 'y');
    EXPECT_EQ(LoadBytes(PatchBytes(PackageBytes(shortEntries, false))).result, UPDATE_E_CORRUPT);
}

TEST(PackageIndex, EntryPositionWrapsIn32Bits) {
    Bytes package = PackageBytes(Entries(1));
    // offset field of entry 0 sits at 16 + 96
    for (int i = 0; i < 4; ++i) package[16 + 96 + i] = 0xFF;
    Loaded l = LoadBytes(PatchBytes(package));
    ASSERT_EQ(l.result, UPDATE_OK);
    EXPECT_EQ(EntryPosition(l.index, 0), l.index.dataBase - 1);
}

TEST(PackageIndex, TheRunningProgramHasNoPackage) {
    // A test program is not a patch: its image ends before 0x40000 or holds no header there.
    FileHandle image;
    PackageIndex index;
    const UpdateResult result = LoadPackageIndex(image, index);
    EXPECT_NE(result, UPDATE_OK);
}

}  // namespace
