#include "install/install_paths.h"

#include <gtest/gtest.h>

#include <string>

#include "support/package_builder.h"
#include "support/win_files.h"

using namespace testing_support;

namespace {

TEST(InstallPaths, FormatFitsUpToTheLastByteOfTheBuffer) {
    char out[MAX_PATH];
    // "<folder>\<name>" of exactly 259 characters fits; one more does not.
    const std::string folder(250, 'f');
    const std::string name8(8, 'n');
    ASSERT_TRUE(FormatInstallPath(out, folder.c_str(), name8.c_str()));
    EXPECT_EQ(std::string(out), folder + "\\" + name8);
    EXPECT_FALSE(FormatInstallPath(out, folder.c_str(), (name8 + "n").c_str()));
    EXPECT_STREQ(out, "") << "a refused path leaves nothing usable behind";

    const std::string name4(4, 'n');
    ASSERT_TRUE(FormatTemporaryPath(out, folder.c_str(), name4.c_str()));
    EXPECT_EQ(std::string(out), folder + "\\" + name4 + ".tmp");
    EXPECT_FALSE(FormatTemporaryPath(out, folder.c_str(), (name4 + "n").c_str()));
    EXPECT_STREQ(out, "");
}

TEST(InstallPaths, CreateFreshFileReplacesAStaleReadOnlyHiddenFile) {
    TempFolder folder("paths");
    const std::string path = folder / "a.arc.tmp";
    ASSERT_TRUE(WriteWholeFile(path, std::string("stale content")));
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    FileHandle file;
    FileIdentity identity;
    ASSERT_TRUE(CreateFreshFile(file, path.c_str(), identity));
    ASSERT_EQ(file.Write("new", 3), 3u);
    file.Close();

    EXPECT_EQ(ReadWholeFile(path), BytesOf("new"));
    const DWORD attributes = GetFileAttributesA(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);
}

TEST(InstallPaths, CreateFreshFileFailsWhereNoFileCanBeMade) {
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

TEST(InstallPaths, CreateFreshFileNeverWritesThroughAHardLink) {
    TempFolder folder("paths");
    const std::string victim = folder / "victim.dat";
    const std::string planted = folder / "a.arc.tmp";
    ASSERT_TRUE(WriteWholeFile(victim, std::string("precious")));
    if (!CreateHardLinkA(planted.c_str(), victim.c_str(), nullptr)) {
        GTEST_SKIP() << "hard links cannot be made here (error " << GetLastError() << ")";
    }
    FileHandle file;
    FileIdentity identity;
    ASSERT_TRUE(CreateFreshFile(file, planted.c_str(), identity));
    ASSERT_EQ(file.Write("attack", 6), 6u);
    file.Close();
    EXPECT_EQ(ReadWholeFile(victim), BytesOf("precious"));
    EXPECT_EQ(ReadWholeFile(planted), BytesOf("attack"));
}

}  // namespace
