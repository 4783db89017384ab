// Links, further names and linked folders planted in the install folder by an
// ordinary user, against the updater that runs as administrator: nothing outside
// the folder may change, whatever the outcome.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/install_paths.h"
#include "install/installed_list.h"
#include "install/link_guard.h"
#include "install/list_file.h"
#include "install/uninstall_list.h"
#include "install/update_run.h"
#include "support/dialog_harness.h"
#include "support/failing_allocation.h"
#include "support/host_links.h"
#include "support/install_names.h"
#include "support/package_builder.h"
#include "support/win_files.h"
#include "support/windows_refusals.h"
#include "ui/resource_ids.h"

using namespace testing_support;

namespace {

// Everything of a file outside the install folder that a run could change.
struct FileState {
    bool exists = false;
    Bytes bytes;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    std::string mode;
};

FileState StateOf(const std::string& path) {
    FileState state;
    state.bytes = ReadWholeFile(path, &state.exists);
    state.attributes = GetFileAttributesA(path.c_str());
    state.mode = UnixMode(path);
    return state;
}

void ExpectUnchanged(const std::string& path, const FileState& before) {
    const FileState after = StateOf(path);
    EXPECT_TRUE(after.exists) << path << " was deleted";
    EXPECT_EQ(after.bytes, before.bytes) << path;
    EXPECT_EQ(after.attributes, before.attributes) << path;
    EXPECT_EQ(after.mode, before.mode) << path;
}

// A file outside the install folder, read-only as a system file often is. Wine
// refuses to delete read-only files, so deletions are tried on writable ones.
FileState MakeVictim(const std::string& path, const std::string& text, bool readOnly = true) {
    EXPECT_TRUE(WriteWholeFile(path, text));
    if (readOnly) {
        EXPECT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    return StateOf(path);
}

// The names of a folder and their contents, folders ending in "\".
std::vector<std::pair<std::string, Bytes>> Listing(const std::string& folder) {
    std::vector<std::pair<std::string, Bytes>> listing;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return listing;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            listing.emplace_back(name + "\\", Bytes());
        } else {
            listing.emplace_back(name, ReadWholeFile(folder + "\\" + name));
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return listing;
}

// The run's placeholder for the temporary name "<x>.tmp" on its attempt `attempt`.
std::string PlaceholderName(const std::string& temporaryName, unsigned attempt) {
    static const char HEX[] = "0123456789abcdef";
    return temporaryName.substr(0, temporaryName.size() - 4) + ".~" + HEX[attempt];
}

#define PLANT(call)                                                                  \
    do {                                                                             \
        if (!(call)) GTEST_SKIP() << "cannot plant a link on the host: " << links_.Why(); \
    } while (0)

// ---- whole runs, with the real progress dialog ------------------------------------

class PlantedLinksTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog_ = OpenProgressDialog();
        ASSERT_NE(dialog_, nullptr);
        install_ = root_ / "game";
        ASSERT_TRUE(CreateDirectoryA(install_.c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(In("a.arc"), std::string("old a")));
        ASSERT_TRUE(WriteWholeFile(In("KVX.hvl"), HashValueListBytes({{"a.arc", Bytes(8, 1)}})));
        ASSERT_TRUE(WriteWholeFile(In("uninst.lst"), std::string("a.arc\n\0", 7)));
    }

    void TearDown() override { CloseProgressDialog(dialog_); }

    std::string In(const std::string& name) const { return install_ + "\\" + name; }
    std::string Out(const std::string& name) const { return outside_ / name; }

    UpdateResult Run(const std::vector<TestEntry>& entries) {
        const std::string path = package_ / "patch.exe";
        EXPECT_TRUE(WriteWholeFile(path, PatchBytes(PackageBytes(entries))));
        return UpdateRunFromPackage(path.c_str(), install_.c_str());
    }

    // The package: its list (a.arc verified) and the new a.arc.
    std::vector<TestEntry> Update() const {
        return {{"KVX.hvl", HashValueListBytes({{"a.arc", ChecksumOf(newA_)}})}, {"a.arc", newA_}};
    }

    void ExpectNoTemporaryFiles() {
        for (const auto& file : Listing(install_)) {
            const std::string& name = file.first;
            EXPECT_FALSE(name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) << name;
        }
    }

    const Bytes newA_ = BytesOf("the new a.arc");
    HWND dialog_ = nullptr;
    std::string install_;
    TempFolder root_{"plant"};
    TempFolder outside_{"outside"};
    TempFolder package_{"pkg"};
    HostLinks links_;  // last, so the links go before the folders
};

TEST_F(PlantedLinksTest, LinksAtEveryNameTheRunCreatesAreReplacedNotFollowed) {
    // The temporary files of both entries (the list's is also its scratch file),
    // the scratch file of the uninstaller's list and the first placeholder name:
    // all predictable.
    const std::vector<std::string> names = {"a.arc.tmp", "KVX.hvl.tmp", INSTALLED_LIST_SCRATCH_NAME,
                                            UNINSTALL_LIST_SCRATCH_NAME, PlaceholderName("a.arc.tmp", 0)};
    std::vector<FileState> before;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string victim = Out("victim" + std::to_string(i));
        before.push_back(MakeVictim(victim, "system file " + std::to_string(i)));
        PLANT(links_.Symbolic(victim, In(names[i])));
    }
    ASSERT_EQ(ReadText(In("a.arc.tmp")), "system file 0") << "the link resolves";

    EXPECT_EQ(Run(Update()), UPDATE_OK);
    for (size_t i = 0; i < names.size(); ++i) ExpectUnchanged(Out("victim" + std::to_string(i)), before[i]);
    EXPECT_EQ(ReadWholeFile(In("a.arc")), newA_);
    EXPECT_FALSE(IsHostLink(In("a.arc")));
    EXPECT_EQ(ReadWholeFile(In("KVX.hvl")), HashValueListBytes({{"a.arc", ChecksumOf(newA_)}}));
    EXPECT_EQ(ReadText(In("uninst.lst")), std::string("a.arc\nKVX.hvl\n\0", 15));
    EXPECT_FALSE(Exists(In("a.arc.tmp")));
    EXPECT_FALSE(Exists(In(INSTALLED_LIST_SCRATCH_NAME)));
    EXPECT_FALSE(Exists(In(UNINSTALL_LIST_SCRATCH_NAME)));
}

TEST_F(PlantedLinksTest, FurtherNamesOfAnOutsideFileUnderTemporaryNamesKeepItsData) {
    const std::vector<std::string> names = {"a.arc.tmp", "KVX.hvl.tmp", INSTALLED_LIST_SCRATCH_NAME,
                                            UNINSTALL_LIST_SCRATCH_NAME};
    std::vector<FileState> before;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string victim = Out("victim" + std::to_string(i));
        before.push_back(MakeVictim(victim, "system file " + std::to_string(i)));
        PLANT(links_.Hard(victim, In(names[i])));
    }
    const auto installed = Listing(install_);

    // Windows refuses to replace the read-only name, and its attributes cannot be
    // cleared without clearing the outside file's: nothing is installed.
    EXPECT_EQ(Run(Update()), UPDATE_E_IO);
    for (size_t i = 0; i < names.size(); ++i) ExpectUnchanged(Out("victim" + std::to_string(i)), before[i]);
    EXPECT_EQ(Listing(install_), installed);
}

TEST_F(PlantedLinksTest, AFurtherNameOfAReadOnlyOutsideFileAtAFinalNameStopsTheRunThere) {
    const FileState before = MakeVictim(Out("victim"), "a read-only system file");
    ASSERT_TRUE(DeleteFileA(In("a.arc").c_str()));
    PLANT(links_.Hard(Out("victim"), In("a.arc")));
    const std::string uninstallBefore = ReadText(In("uninst.lst"));

    const unsigned refusedBefore = WindowsRefusals::Refused();
    EXPECT_EQ(Run(Update()), UPDATE_E_IO);
    EXPECT_GT(WindowsRefusals::Refused(), refusedBefore) << "the rename onto the read-only name, as Windows";
    ExpectUnchanged(Out("victim"), before);
    EXPECT_EQ(ReadWholeFile(In("KVX.hvl")), HashValueListBytes({{"a.arc", ChecksumOf(newA_)}})) << "moved before";
    EXPECT_EQ(ReadText(In("uninst.lst")), uninstallBefore);
    ExpectNoTemporaryFiles();
}

TEST_F(PlantedLinksTest, ListsLinkedOutsideAreNeitherReadNorWrittenThere) {
    const std::string outsideHashList = Out("hashes"), outsideUninstallList = Out("names");
    ASSERT_TRUE(WriteWholeFile(outsideHashList, HashValueListBytes({{"a.arc", Bytes(8, 1)}, {"gone", Bytes(8, 2)}})));
    ASSERT_TRUE(WriteWholeFile(outsideUninstallList, std::string("a secret of the administrator\n\0", 31)));
    const FileState hashesBefore = StateOf(outsideHashList), namesBefore = StateOf(outsideUninstallList);
    ASSERT_TRUE(DeleteFileA(In("KVX.hvl").c_str()));
    ASSERT_TRUE(DeleteFileA(In("uninst.lst").c_str()));
    PLANT(links_.Symbolic(outsideHashList, In("KVX.hvl")));
    PLANT(links_.Symbolic(outsideUninstallList, In("uninst.lst")));

    // Without a list in the package the installed one is only pruned.
    EXPECT_EQ(Run({{"a.arc", newA_}}), UPDATE_E_UNINSTALL_LIST);
    EXPECT_EQ(ReadWholeFile(In("a.arc")), newA_);
    ExpectUnchanged(outsideHashList, hashesBefore);
    ExpectUnchanged(outsideUninstallList, namesBefore);
    EXPECT_TRUE(IsHostLink(In("KVX.hvl"))) << "a list that was not read is not replaced";
    EXPECT_TRUE(IsHostLink(In("uninst.lst")));
    ExpectNoTemporaryFiles();

    // The list of the package replaces the link itself.
    EXPECT_EQ(Run(Update()), UPDATE_E_UNINSTALL_LIST);
    EXPECT_FALSE(IsHostLink(In("KVX.hvl")));
    EXPECT_EQ(ReadWholeFile(In("KVX.hvl")), HashValueListBytes({{"a.arc", ChecksumOf(newA_)}}));
    ExpectUnchanged(outsideHashList, hashesBefore);
    ExpectUnchanged(outsideUninstallList, namesBefore);
}

TEST_F(PlantedLinksTest, ALinkAtAFinalNameIsReplacedAndItsTargetKeepsItsAttributes) {
    const std::string victim = Out("DATA1.arc");
    const FileState before = MakeVictim(victim, "an outside archive");
    PLANT(links_.Symbolic(victim, In("DATA1.arc")));
    const Bytes data = BytesOf("new DATA1");
    EXPECT_EQ(Run({{"KVX.hvl", HashValueListBytes({{"DATA1.arc", ChecksumOf(data)}})}, {"DATA1.arc", data}}),
              UPDATE_OK);
    ExpectUnchanged(victim, before);
    EXPECT_FALSE(IsHostLink(In("DATA1.arc")));
    EXPECT_EQ(ReadWholeFile(In("DATA1.arc")), data);
    ExpectNoTemporaryFiles();
}

TEST_F(PlantedLinksTest, AFolderLinkedAtAFinalNameStopsTheRunAndKeepsThatFoldersMode) {
    // The rename onto a link to a folder fails; resetting the attributes of the
    // name then would make the outside folder writable.
    const std::string folder = Out("system");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(folder + "\\inside", std::string("kept")));
    ASSERT_TRUE(SetUnixMode(folder, "555"));
    const std::string modeBefore = UnixMode(folder);
    ASSERT_EQ(modeBefore, "555");
    ASSERT_TRUE(DeleteFileA(In("a.arc").c_str()));
    PLANT(links_.Symbolic(folder, In("a.arc")));

    // a.arc first, so that its failed rename stops the commit before anything moved.
    EXPECT_EQ(Run({Update()[1], Update()[0]}), UPDATE_E_IO);
    EXPECT_EQ(UnixMode(folder), modeBefore);
    EXPECT_EQ(Listing(folder), (std::vector<std::pair<std::string, Bytes>>{{"inside", BytesOf("kept")}}));
    EXPECT_EQ(ReadWholeFile(In("KVX.hvl")), HashValueListBytes({{"a.arc", Bytes(8, 1)}})) << "nothing installed";
    ExpectNoTemporaryFiles();
    SetUnixMode(folder, "755");
}

TEST_F(PlantedLinksTest, ARecordFolderThatIsALinkIsRefusedBeforeAnythingIsMade) {
    const std::string folder = Out("elsewhere");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(folder + "\\x.arc", std::string("outside x")));
    ASSERT_TRUE(WriteWholeFile(folder + "\\x.arc.tmp", std::string("outside x.tmp")));
    PLANT(links_.Symbolic(folder, In("sub")));
    const DWORD attributes = GetFileAttributesA(In("sub").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY) << "the link is seen as a folder";
    const auto outsideBefore = Listing(folder);
    const auto installed = Listing(install_);

    const Bytes x = BytesOf("new x");
    EXPECT_EQ(Run({{"KVX.hvl", HashValueListBytes({{"sub\\x.arc", ChecksumOf(x)}})}, {"x.arc", x}}), UPDATE_E_IO);
    EXPECT_EQ(Listing(folder), outsideBefore);
    EXPECT_EQ(Listing(install_), installed);
}

TEST_F(PlantedLinksTest, ALinkAtATemporaryNameThatCannotBeClearedSurvivesWithItsTarget) {
    // Every placeholder name taken: the link cannot be replaced, creation fails,
    // and the cleanup must not delete it, as that would delete its target.
    const std::string victim = Out("victim");
    const FileState before = MakeVictim(victim, "system file", false);
    PLANT(links_.Symbolic(victim, In("a.arc.tmp")));
    for (unsigned i = 0; i < 16; ++i) {
        ASSERT_TRUE(CreateDirectoryA(In(PlaceholderName("a.arc.tmp", i)).c_str(), nullptr));
    }
    EXPECT_EQ(Run(Update()), UPDATE_E_IO);
    ExpectUnchanged(victim, before);
    EXPECT_EQ(ReadWholeFile(In("a.arc")), BytesOf("old a"));
}

// The status line is set after the name is recorded and before its file is made.
WNDPROC originalStatusProc = nullptr;
LRESULT CALLBACK QuitOnStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) PostQuitMessage(0);
    return CallWindowProcA(originalStatusProc, window, message, wParam, lParam);
}

TEST_F(PlantedLinksTest, ARunStoppedBeforeItsFileRemovesALinkAtItsNameButNotItsTarget) {
    const std::string victim = Out("victim");
    const FileState before = MakeVictim(victim, "system file", false);
    PLANT(links_.Symbolic(victim, In("KVX.hvl.tmp")));
    const HWND status = GetDlgItem(progressDialogHandle, IDC_STATUS);
    originalStatusProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&QuitOnStatus)));
    EXPECT_EQ(Run(Update()), UPDATE_E_ABORTED);
    ExpectUnchanged(victim, before);
    EXPECT_FALSE(Exists(In("KVX.hvl.tmp"))) << "the stale name is cleaned up as a name";
}

// ---- the lists, read and replaced directly -----------------------------------------

TEST(PlantedLists, AScratchLinkThatCannotBeClearedSurvivesWithItsTarget) {
    TempFolder outside("outside");
    TempFolder folder("lists");
    HostLinks links_;
    ASSERT_TRUE(WriteWholeFile(folder / "uninst.lst", std::string("old\n\0", 5)));
    ASSERT_TRUE(WriteWholeFile(folder / "KVX.hvl", HashValueListBytes({{"gone", Bytes(8, 1)}})));
    const FileState before0 = MakeVictim(outside / "victim0", "zero", false),
                    before1 = MakeVictim(outside / "victim1", "one", false);
    PLANT(links_.Symbolic(outside / "victim0", folder / UNINSTALL_LIST_SCRATCH_NAME));
    PLANT(links_.Symbolic(outside / "victim1", folder / INSTALLED_LIST_SCRATCH_NAME));
    for (const char* scratch : {UNINSTALL_LIST_SCRATCH_NAME, INSTALLED_LIST_SCRATCH_NAME}) {
        for (unsigned i = 0; i < 16; ++i) {
            ASSERT_TRUE(CreateDirectoryA((folder / PlaceholderName(scratch, i)).c_str(), nullptr));
        }
    }
    EXPECT_FALSE(UpdateUninstallList(folder.Path().c_str(), InstallNames({"new"}).Slots()));
    PruneHashValueList(folder.Path().c_str());
    ExpectUnchanged(outside / "victim0", before0);
    ExpectUnchanged(outside / "victim1", before1);
    EXPECT_EQ(ReadText(folder / "uninst.lst"), std::string("old\n\0", 5));
    EXPECT_EQ(ReadWholeFile(folder / "KVX.hvl"), HashValueListBytes({{"gone", Bytes(8, 1)}}));
}

TEST(PlantedLists, ListsWithFurtherNamesAreNotRead) {
    TempFolder outside("outside");
    TempFolder folder("lists");
    HostLinks links_;
    const std::string names = std::string("secret\n\0", 8);
    const Bytes hashes = HashValueListBytes({{"gone", Bytes(8, 1)}});
    ASSERT_TRUE(WriteWholeFile(outside / "names", names));
    ASSERT_TRUE(WriteWholeFile(outside / "hashes", hashes));
    PLANT(links_.Hard(outside / "names", folder / "uninst.lst"));
    PLANT(links_.Hard(outside / "hashes", folder / "KVX.hvl"));
    EXPECT_FALSE(UpdateUninstallList(folder.Path().c_str(), InstallNames({"new"}).Slots()));
    PruneHashValueList(folder.Path().c_str());
    EXPECT_EQ(ReadText(outside / "names"), names);
    EXPECT_EQ(ReadWholeFile(outside / "hashes"), hashes);
    EXPECT_EQ(ReadWholeFile(folder / "KVX.hvl"), hashes) << "not pruned, since not read";
}

// A list of `size` bytes, all but its first bytes a hole.
bool MakeLargeFile(const std::string& path, const Bytes& start, uint32_t size) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(h, start.data(), static_cast<DWORD>(start.size()), &written, nullptr) &&
              written == start.size();
    ok = ok && SetFilePointer(h, static_cast<LONG>(size), nullptr, FILE_BEGIN) == size && SetEndOfFile(h);
    CloseHandle(h);
    return ok;
}

TEST(PlantedLists, ListsLargerThanAnyGameNeedsAreLeftAloneWithoutLargeAllocations) {
    TempFolder folder("lists");
    constexpr uint32_t HUGE_SIZE = 64u << 20;
    // A header that announces as many records as the file could hold.
    Bytes header = HashValueListBytes({});
    const uint32_t count = (HUGE_SIZE - static_cast<uint32_t>(header.size())) / 64;
    for (int i = 0; i < 4; ++i) header[12 + i] = static_cast<uint8_t>(count >> (8 * i));
    ASSERT_TRUE(MakeLargeFile(folder / "KVX.hvl", header, HUGE_SIZE));
    ASSERT_TRUE(MakeLargeFile(folder / "uninst.lst", BytesOf("a.arc\n"), HUGE_SIZE));
    {
        NothrowAllocationFailure failing(LARGEST_LIST_SIZE + 1);
        PruneHashValueList(folder.Path().c_str());
        EXPECT_FALSE(UpdateUninstallList(folder.Path().c_str(), InstallNames({"new"}).Slots()));
        EXPECT_EQ(NothrowAllocationFailure::Refused(), 0u) << "nothing larger than a list may be asked for";
    }
    EXPECT_EQ(ReadWholeFile(folder / "KVX.hvl").size(), HUGE_SIZE);
    EXPECT_EQ(ReadWholeFile(folder / "uninst.lst").size(), HUGE_SIZE);
    EXPECT_FALSE(Exists(folder / INSTALLED_LIST_SCRATCH_NAME));
    EXPECT_FALSE(Exists(folder / UNINSTALL_LIST_SCRATCH_NAME));

    // One byte within the limit is still read.
    ASSERT_TRUE(MakeLargeFile(folder / "uninst.lst", BytesOf("a.arc\n"), LARGEST_LIST_SIZE - 1));
    FileHandle file;
    uint32_t size = 0;
    EXPECT_TRUE(OpenListFile(file, (folder / "uninst.lst").c_str(), size));
    EXPECT_EQ(size, LARGEST_LIST_SIZE - 1);
}

// ---- the guards themselves -----------------------------------------------------------

TEST(LinkGuard, OnlyAFileWithOneNameOpenedWhereItIsIsPlain) {
    TempFolder outside("outside");
    TempFolder folder("guard");
    HostLinks links_;
    ASSERT_TRUE(WriteWholeFile(folder / "plain", std::string("p")));
    ASSERT_TRUE(WriteWholeFile(outside / "target", std::string("t")));
    ASSERT_TRUE(CreateDirectoryA((outside / "dir").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(outside / "dir\\inner", std::string("i")));
    PLANT(links_.Symbolic(outside / "target", folder / "symbolic"));
    PLANT(links_.Hard(outside / "target", folder / "hard"));

    const auto plain = [](const std::string& path) {
        FileHandle file;
        return file.OpenRead(path.c_str()) && IsPlainFileAt(file, path.c_str());
    };
    EXPECT_TRUE(plain(folder / "plain"));
    EXPECT_TRUE(plain(folder / "PLAIN")) << "letter case is no link";
    EXPECT_TRUE(plain(folder.Path() + "/plain"));
    EXPECT_FALSE(plain(folder / "symbolic"));
    EXPECT_FALSE(plain(folder / "hard"));
    EXPECT_FALSE(plain(outside / "target")) << "the target now has two names";
    // A linked folder on the way is PassesThroughLinkedFolder's to find.
    EXPECT_TRUE(plain(outside / "dir\\inner"));
}

TEST(LinkGuard, AttributesAreClearedOnPlainFilesOnly) {
    TempFolder outside("outside");
    TempFolder folder("guard");
    HostLinks links_;
    const std::string own = folder / "own";
    ASSERT_TRUE(WriteWholeFile(own, std::string("o")));
    ASSERT_TRUE(SetFileAttributesA(own.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(ClearAttributesOfPlainFile(own.c_str()));
    EXPECT_EQ(GetFileAttributesA(own.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);

    const FileState single = MakeVictim(outside / "single", "s"), shared = MakeVictim(outside / "shared", "h");
    ASSERT_TRUE(CreateDirectoryA((outside / "dir").c_str(), nullptr));
    ASSERT_TRUE(SetUnixMode(outside / "dir", "555"));
    PLANT(links_.Symbolic(outside / "single", folder / "symbolic"));
    PLANT(links_.Hard(outside / "shared", folder / "hard"));
    PLANT(links_.Symbolic(outside / "dir", folder / "linkedDir"));
    const FileState sharedNow = StateOf(outside / "shared");  // its link count changed, nothing else
    EXPECT_FALSE(ClearAttributesOfPlainFile((folder / "symbolic").c_str()));
    EXPECT_FALSE(ClearAttributesOfPlainFile((folder / "hard").c_str()));
    EXPECT_FALSE(ClearAttributesOfPlainFile((folder / "linkedDir").c_str()));
    ExpectUnchanged(outside / "single", single);
    ExpectUnchanged(outside / "shared", sharedNow);
    EXPECT_EQ(sharedNow.attributes, shared.attributes);
    EXPECT_EQ(UnixMode(outside / "dir"), "555");
    SetUnixMode(outside / "dir", "755");
}

TEST(LinkGuard, OnlyTheIdentifiedFileIsDeleted) {
    TempFolder outside("outside");
    TempFolder folder("guard");
    HostLinks links_;
    const std::string own = folder / "own.tmp";
    FileHandle file;
    FileIdentity identity;
    ASSERT_TRUE(CreateFreshFile(file, own.c_str(), identity));
    file.Close();

    const FileState victim = MakeVictim(outside / "victim", "v", false);
    ASSERT_TRUE(WriteWholeFile(folder / "other", std::string("other")));
    PLANT(links_.Symbolic(outside / "victim", folder / "symbolic"));
    EXPECT_FALSE(DeleteOwnFile((folder / "other").c_str(), identity));
    EXPECT_FALSE(DeleteOwnFile((folder / "symbolic").c_str(), identity));
    EXPECT_FALSE(DeleteOwnFile((folder / "missing").c_str(), identity));
    EXPECT_EQ(ReadText(folder / "other"), "other");
    ExpectUnchanged(outside / "victim", victim);

    EXPECT_TRUE(DeleteOwnFile(own.c_str(), identity));
    EXPECT_FALSE(Exists(own));
}

TEST(LinkGuard, RemovingANameNeverRemovesWhatALinkPointsTo) {
    TempFolder outside("outside");
    TempFolder folder("guard");
    HostLinks links_;
    const FileState victim = MakeVictim(outside / "victim", "v", false);
    PLANT(links_.Symbolic(outside / "victim", folder / "a.tmp"));
    EXPECT_TRUE(RemoveName((folder / "a.tmp").c_str()));
    EXPECT_FALSE(Exists(folder / "a.tmp"));
    ExpectUnchanged(outside / "victim", victim);
    EXPECT_TRUE(Listing(folder.Path()).empty()) << "no placeholder is left";
}

TEST(LinkGuard, FoldersOnTheWayMustBePlainFolders) {
    TempFolder outside("outside");
    TempFolder folder("guard");
    HostLinks links_;
    ASSERT_TRUE(CreateDirectoryA((folder / "sub").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((folder / "sub\\ソ").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(folder / "file", std::string("f")));
    PLANT(links_.Symbolic(outside.Path(), folder / "linked"));
    PLANT(links_.Symbolic(outside.Path(), folder / "sub\\ソ\\deeper"));
    const char* base = folder.Path().c_str();
    EXPECT_FALSE(PassesThroughLinkedFolder(base, "a.arc"));
    EXPECT_FALSE(PassesThroughLinkedFolder(base, "linked")) << "the last part is no folder of the path";
    EXPECT_FALSE(PassesThroughLinkedFolder(base, "sub\\a.arc"));
    EXPECT_FALSE(PassesThroughLinkedFolder(base, "sub/ソ\\a.arc"));
    EXPECT_FALSE(PassesThroughLinkedFolder(base, "ソ.arc")) << "a trail byte 5C is no separator";
    EXPECT_TRUE(PassesThroughLinkedFolder(base, "linked\\a.arc"));
    EXPECT_TRUE(PassesThroughLinkedFolder(base, "sub\\ソ\\deeper\\a.arc"));
    EXPECT_TRUE(PassesThroughLinkedFolder(base, "file\\a.arc"));
    EXPECT_TRUE(PassesThroughLinkedFolder(base, "missing\\a.arc"));
}

}  // namespace
