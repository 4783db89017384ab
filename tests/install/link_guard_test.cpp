#include "install/link_guard.h"

#include <gtest/gtest.h>

#include <string>

#include "support/host_links.h"
#include "support/package_builder.h"
#include "support/win_files.h"

using namespace testing_support;

namespace {

// Creates `path` with CreateFreshFile and writes `text` into it.
bool WriteFreshFile(const std::string& path, const std::string& text) {
    FileHandle file;
    FileIdentity identity;
    const uint32_t length = static_cast<uint32_t>(text.size());
    return CreateFreshFile(file, path.c_str(), identity) && file.Write(text.data(), length) == length;
}

TEST(LinkGuard, CreateFreshFileReplacesAStaleReadOnlyHiddenFile) {
    TempFolder folder("paths");
    const std::string path = folder / "a.arc.tmp";
    ASSERT_TRUE(WriteWholeFile(path, std::string("stale content")));
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    ASSERT_TRUE(WriteFreshFile(path, "new"));
    EXPECT_EQ(ReadWholeFile(path), BytesOf("new"));
    const DWORD attributes = GetFileAttributesA(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
}

// A new file's identity, with its folder's path remembered or not, is the one
// its name leads to later, and no other file's at that name.
TEST(LinkGuard, DeleteOwnFileDeletesOnlyTheIdentifiedFile) {
    TempFolder folder("paths");
    const std::string path = folder / "a.arc.tmp";
    for (const bool remember : {false, true}) {
        RememberFolderPaths(remember);
        FileIdentity first, second;
        FileHandle file;
        ASSERT_TRUE(CreateFreshFile(file, path.c_str(), first));
        file.Close();
        EXPECT_TRUE(DeleteOwnFile(path.c_str(), first)) << "remembered: " << remember;
        EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);

        ASSERT_TRUE(CreateFreshFile(file, path.c_str(), second));
        file.Close();
        ASSERT_TRUE(WriteWholeFile(folder / "other", std::string("other")));
        ASSERT_TRUE(MoveFileExA((folder / "other").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING));
        EXPECT_FALSE(DeleteOwnFile(path.c_str(), second)) << "remembered: " << remember;
        EXPECT_EQ(ReadWholeFile(path), BytesOf("other"));
        ASSERT_TRUE(DeleteFileA(path.c_str()));
    }
    RememberFolderPaths(false);
}

TEST(LinkGuard, CreateFreshFileFailsWhereNoFileCanBeMade) {
    TempFolder folder("paths");
    FileHandle file;
    FileIdentity identity;
    EXPECT_FALSE(CreateFreshFile(file, (folder / "missing\\a.arc.tmp").c_str(), identity));
    EXPECT_FALSE(file.IsOpen());

    // A folder of that name is not removed, and no file is made in its place.
    ASSERT_TRUE(CreateDirectoryA((folder / "d.tmp").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(folder / "d.tmp\\keep", std::string("kept")));
    EXPECT_FALSE(CreateFreshFile(file, (folder / "d.tmp").c_str(), identity));
    EXPECT_EQ(ReadWholeFile(folder / "d.tmp\\keep"), BytesOf("kept"));
}

TEST(LinkGuard, CreateFreshFileNeverWritesThroughAHardLink) {
    TempFolder folder("paths");
    const std::string victim = folder / "victim.dat";
    const std::string planted = folder / "a.arc.tmp";
    ASSERT_TRUE(WriteWholeFile(victim, std::string("precious")));
    if (!CreateHardLinkA(planted.c_str(), victim.c_str(), nullptr)) {
        GTEST_SKIP() << "hard links cannot be made here (error " << GetLastError() << ")";
    }
    ASSERT_TRUE(WriteFreshFile(planted, "attack"));
    EXPECT_EQ(ReadWholeFile(victim), BytesOf("precious"));
    EXPECT_EQ(ReadWholeFile(planted), BytesOf("attack"));
}

// A run remembers the final path of the folder its files go to. The folder
// swapped for a link to another folder after the first file is then refused,
// and nothing is made where the link leads.
TEST(LinkGuard, AFolderSwappedForALinkDuringARunIsRefused) {
    TempFolder folder("paths");
    const std::string inside = folder / "sub", elsewhere = folder / "elsewhere";
    ASSERT_TRUE(CreateDirectoryA(inside.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));
    HostLinks links;
    RememberFolderPaths(true);
    EXPECT_TRUE(WriteFreshFile(inside + "\\a.arc.tmp", "first"));
    ASSERT_TRUE(DeleteFileA((inside + "\\a.arc.tmp").c_str()));
    ASSERT_TRUE(RemoveDirectoryA(inside.c_str()));
    ASSERT_TRUE(links.Symbolic(elsewhere, inside)) << links.Why();
    const bool written = WriteFreshFile(inside + "\\b.arc.tmp", "second");
    RememberFolderPaths(false);
    EXPECT_FALSE(written);
    EXPECT_FALSE(Exists(elsewhere + "\\b.arc.tmp"));
}

}  // namespace
