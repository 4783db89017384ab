#include "install/link_guard.h"

#include <gtest/gtest.h>

#include <string>

#include "support/folder_snapshot.h"
#include "support/host_links.h"
#include "support/package_builder.h"
#include "support/win_files.h"
#include "support/windows_answers.h"

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

// On a volume mounted in a folder, or one without a drive letter, files made in
// the folder are found in place in whatever form the volume names them, at its
// root and below it, and a link planted there still is not.
TEST(LinkGuard, FilesAreFoundInPlaceOnVolumesOfEveryNaming) {
    for (const VolumeNaming naming :
         {VolumeNaming::MOUNTED_IN_FOLDER, VolumeNaming::NO_DRIVE_LETTER, VolumeNaming::NT_NAME_ONLY}) {
        SCOPED_TRACE(static_cast<int>(naming));
        TempFolder folder("volume"), outside("outside");
        HostLinks links;
        ASSERT_TRUE(CreateDirectoryA((folder / "sub").c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(outside / "target", std::string("t")));
        if (!links.Symbolic(outside / "target", folder / "linked")) GTEST_SKIP() << links.Why();
        WindowsAnswers answers;
        ASSERT_TRUE(answers.Installed());
        ASSERT_TRUE(answers.VolumeRoot(folder.Path(), naming));
        for (const char* name : {"a.arc.tmp", "sub\\b.arc.tmp"}) {
            FileHandle file;
            FileIdentity identity;
            EXPECT_TRUE(CreateFreshFile(file, (folder / name).c_str(), identity)) << name;
            file.Close();
            EXPECT_TRUE(DeleteOwnFile((folder / name).c_str(), identity)) << name;
        }
        FileHandle linked;
        ASSERT_TRUE(linked.OpenRead((folder / "linked").c_str()));
        EXPECT_FALSE(IsPlainFileAt(linked, (folder / "linked").c_str()));
    }
}

// Where a new file cannot be identified, it is deleted through the handle that
// made it: neither it nor a placeholder for a stale name stays behind, however
// often that is tried.
TEST(LinkGuard, FilesThatCannotBeIdentifiedAreNotLeftBehind) {
    TempFolder folder("identity");
    ASSERT_TRUE(WriteWholeFile(folder / "stale.tmp", std::string("stale")));
    const FolderSnapshot before = TakeFolderSnapshot(folder.Path());
    WindowsAnswers answers;
    ASSERT_TRUE(answers.Installed());
    answers.RefuseIdentity();
    for (int attempt = 0; attempt < 3; ++attempt) {
        FileHandle file;
        FileIdentity identity;
        EXPECT_FALSE(CreateFreshFile(file, (folder / "a.arc.tmp").c_str(), identity));
        EXPECT_FALSE(file.IsOpen());
        EXPECT_FALSE(CreateFreshFile(file, (folder / "stale.tmp").c_str(), identity));
        EXPECT_FALSE(RemoveName((folder / "stale.tmp").c_str()));
    }
    EXPECT_EQ(TakeFolderSnapshot(folder.Path()), before) << DescribeDifference(before, TakeFolderSnapshot(folder.Path()));
}

}  // namespace
