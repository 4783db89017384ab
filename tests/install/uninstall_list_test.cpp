#include "install/uninstall_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/failing_allocation.h"
#include "support/host_links.h"
#include "support/install_names.h"
#include "support/small_disk.h"
#include "support/unix_shell.h"
#include "support/win_files.h"

using namespace testing_support;

namespace {

// Text with its NULs, written as given.
std::string Z(const char* text, size_t length) { return std::string(text, length); }

// A folder holding "uninst.lst" with the given bytes.
struct ListFolder {
    explicit ListFolder(const std::string& content) : folder("uninst") {
        EXPECT_TRUE(WriteWholeFile(List(), content));
    }
    std::string List() const { return folder / UNINSTALL_LIST_NAME; }
    bool Update(const InstallNames& names) const { return UpdateUninstallList(folder.Path().c_str(), names.Slots()); }
    bool ScratchLeft() const { return Exists(folder / UNINSTALL_LIST_SCRATCH_NAME); }

    TempFolder folder;
};

struct AppendCase {
    const char* what;
    std::string before;
    std::vector<std::string> names;
    std::string after;
};

TEST(UninstallList, AppendsTheNamesNoWholeLineHoldsYet) {
    const std::vector<AppendCase> cases = {
        {"a list of only the NUL", Z("\0", 1), {"KVX.hvl", "data1.arc"}, Z("KVX.hvl\ndata1.arc\n\0", 19)},
        {"a whole line is present", Z("game.exe\r\ndata1.arc\r\n\0", 22), {"data1.arc", "new.arc"},
         Z("game.exe\r\ndata1.arc\r\nnew.arc\n\0", 30)},
        {"a name inside a longer line is no line of its own", Z("bgm\\op.ogg\ndata01.arc\ndata1.arc.bak\n\0", 37),
         {"op.ogg", "ta01.arc", "data1.arc"},
         Z("bgm\\op.ogg\ndata01.arc\ndata1.arc.bak\nop.ogg\nta01.arc\ndata1.arc\n\0", 63)},
        {"a trail byte is no letter of a line", Z("\x83\x41.arc\n\0", 8), {"A.arc"}, Z("\x83\x41.arc\nA.arc\n\0", 14)},
        {"a CR before the LF is no part of the line", Z("a.arc\r\nb.arc\0", 13), {"a.arc", "b.arc", "a.ar"},
         Z("a.arc\r\nb.arc\na.ar\n\0", 19)},
        {"the last line runs to the NUL, a CR there included", Z("a.arc\r\0", 7), {"a.arc"},
         Z("a.arc\r\na.arc\n\0", 14)},
        {"letter case matters", Z("DATA1.ARC\n\0", 11), {"data1.arc"}, Z("DATA1.ARC\ndata1.arc\n\0", 21)},
        {"a name offered twice is appended once", Z("\0", 1), {"x.arc", "y.arc", "x.arc"},
         Z("x.arc\ny.arc\n\0", 13)},
        {"an empty name is never appended", Z("a\n\0", 3), {"", "b"}, Z("a\nb\n\0", 5)},
        {"a last line without its end is ended first", Z("a.arc\0", 6), {"b.arc"}, Z("a.arc\nb.arc\n\0", 13)},
        {"nothing new: the same bytes", Z("one\r\ntwo\n\xff\x80\0", 12), {"one", "two"},
         Z("one\r\ntwo\n\xff\x80\0", 12)},
        {"an empty file is empty text", "", {"a.arc"}, Z("a.arc\n\0", 7)},
        {"a file without its final NUL keeps every byte", "old\nlast", {"new"}, Z("old\nlast\nnew\n\0", 14)},
        {"no names at all", Z("keep\n\0", 6), {}, Z("keep\n\0", 6)},
        {"Shift-JIS names", Z("\x83\x5C\x83\x74\x83\x67\\a.arc\n\0", 14), {"\x83\x5C\x83\x74\x83\x67\\a.arc", "\x83\x5C.dat"},
         Z("\x83\x5C\x83\x74\x83\x67\\a.arc\n\x83\x5C.dat\n\0", 21)},
    };
    for (const AppendCase& c : cases) {
        ListFolder list(c.before);
        const InstallNames names(c.names);
        EXPECT_TRUE(list.Update(names)) << c.what;
        EXPECT_EQ(ReadText(list.List()), c.after) << c.what;
        EXPECT_FALSE(list.ScratchLeft()) << c.what;
    }
}

// The list must stay exactly as it was and the update report false.
void ExpectRefused(const ListFolder& list, const InstallNames& names, const std::string& before, const char* what) {
    EXPECT_FALSE(list.Update(names)) << what;
    EXPECT_EQ(ReadText(list.List()), before) << what;
    EXPECT_FALSE(list.ScratchLeft()) << what;
}

TEST(UninstallList, RefusesListsOutsideTheFormatAndLeavesThemAlone) {
    const InstallNames names({"new.arc"});
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"a NUL inside the text", Z("a\n\0b\n\0", 6)},
        {"a NUL at the start of a longer file", Z("\0\0", 2)},
        {"a NUL inside a file without a final NUL", Z("a\0b", 3)},
    };
    for (const auto& c : cases) {
        ListFolder list(c.second);
        ExpectRefused(list, names, c.second, c.first);
    }
}

TEST(UninstallList, EverythingMustFitTheBuffer) {
    const uint32_t size = UNINSTALL_LIST_BUFFER_SIZE;
    const std::string name = "next.arc";
    // Old text ending in its line end, one appended line and the final NUL
    // filling the buffer exactly.
    std::string fits(size - name.size() - 1, 'x');
    fits[fits.size() - 2] = '\n';
    fits.back() = '\0';
    {
        ListFolder list(fits);
        EXPECT_TRUE(list.Update(InstallNames({name})));
        const std::string after = ReadText(list.List());
        EXPECT_EQ(after.size(), size);
        EXPECT_EQ(after, fits.substr(0, fits.size() - 1) + name + "\n" + Z("\0", 1));
    }
    std::string oneOver = fits;
    oneOver.insert(0, "y");
    {
        ListFolder list(oneOver);
        ExpectRefused(list, InstallNames({name}), oneOver, "the appended line does not fit");
    }
    {
        std::string full(size, 'x');
        full[size - 3] = '\n';  // its last line is "x"
        full.back() = '\0';
        ListFolder list(full);
        EXPECT_TRUE(list.Update(InstallNames({"x"}))) << "a full buffer with nothing to append";
        ExpectRefused(list, InstallNames({"y"}), full, "a full buffer cannot take a line");
    }
    {
        const std::string noNul(size, 'x');
        ListFolder list(noNul);
        ExpectRefused(list, InstallNames({"x"}), noNul, "no room left for the final NUL");
    }
    {
        std::string larger(size + 1, 'x');
        larger.back() = '\0';
        ListFolder list(larger);
        ExpectRefused(list, InstallNames({"x"}), larger, "larger than the buffer");
    }
}

TEST(UninstallList, AMissingListIsNotCreated) {
    TempFolder folder("missing");
    EXPECT_FALSE(UpdateUninstallList(folder.Path().c_str(), InstallNames({"a.arc"}).Slots()));
    EXPECT_FALSE(Exists(folder / UNINSTALL_LIST_NAME));
    EXPECT_FALSE(Exists(folder / UNINSTALL_LIST_SCRATCH_NAME));
}

TEST(UninstallList, AListThatCannotBeReplacedStaysUnchanged) {
    const std::string before = Z("old\n\0", 5);
    const InstallNames names({"new.arc"});
    // Re-creating the list refuses each of these attributes; it keeps them.
    for (const DWORD attributes : {DWORD{FILE_ATTRIBUTE_READONLY}, DWORD{FILE_ATTRIBUTE_HIDDEN},
                                   DWORD{FILE_ATTRIBUTE_SYSTEM}, DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}}) {
        ListFolder list(before);
        ASSERT_TRUE(SetFileAttributesA(list.List().c_str(), attributes));
        ExpectRefused(list, names, before, ("attributes " + std::to_string(attributes)).c_str());
        EXPECT_EQ(GetFileAttributesA(list.List().c_str()) & ~DWORD{FILE_ATTRIBUTE_ARCHIVE}, attributes);
    }
    {
        ListFolder list(before);
        HANDLE held = CreateFileA(list.List().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(list.Update(names)) << "held open without sharing deletion";
        CloseHandle(held);
        EXPECT_EQ(ReadText(list.List()), before);
        EXPECT_FALSE(list.ScratchLeft());
    }
    {
        ListFolder list(before);
        ASSERT_TRUE(CreateDirectoryA((list.folder / UNINSTALL_LIST_SCRATCH_NAME).c_str(), nullptr));
        EXPECT_FALSE(list.Update(names)) << "a folder at the scratch name";
        EXPECT_EQ(ReadText(list.List()), before);
    }
}

TEST(UninstallList, AFolderOrAPathTooLongIsFalse) {
    TempFolder folder("notfile");
    ASSERT_TRUE(CreateDirectoryA((folder / UNINSTALL_LIST_NAME).c_str(), nullptr));
    EXPECT_FALSE(UpdateUninstallList(folder.Path().c_str(), InstallNames({"a"}).Slots()));

    // The longest folder where "uninst.lst" fits a path: its scratch file, no
    // longer a name, fits too, and the list is extended. One byte more, and the
    // list's own path does not fit.
    std::string deep = folder.Path();
    while (deep.size() + 21 + 1 + sizeof UNINSTALL_LIST_NAME < MAX_PATH) {
        deep += "\\dddddddddddddddddddd";
        ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    }
    const std::string longest = deep + "\\" + std::string(MAX_PATH - 1 - sizeof UNINSTALL_LIST_NAME - deep.size() - 1, 'e');
    ASSERT_TRUE(CreateDirectoryA(longest.c_str(), nullptr));
    const std::string listPath = longest + "\\" + UNINSTALL_LIST_NAME;
    ASSERT_EQ(listPath.size(), MAX_PATH - 1u) << "the longest path that fits";
    ASSERT_TRUE(WriteWholeFile(listPath, Z("old\n\0", 5)));
    EXPECT_TRUE(UpdateUninstallList(longest.c_str(), InstallNames({"a"}).Slots()));
    EXPECT_EQ(ReadText(listPath), Z("old\na\n\0", 7));
    EXPECT_FALSE(Exists(longest + "\\" + UNINSTALL_LIST_SCRATCH_NAME));

    const std::string tooLong = longest + "e";
    ASSERT_TRUE(CreateDirectoryA(tooLong.c_str(), nullptr));
    EXPECT_FALSE(UpdateUninstallList(tooLong.c_str(), InstallNames({"a"}).Slots()));
}

TEST(UninstallList, ReplacesAStaleScratchFile) {
    ListFolder list(Z("\0", 1));
    const std::string scratch = list.folder / UNINSTALL_LIST_SCRATCH_NAME;
    ASSERT_TRUE(WriteWholeFile(scratch, std::string("stale")));
    ASSERT_TRUE(SetFileAttributesA(scratch.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(list.Update(InstallNames({"a"})));
    EXPECT_EQ(ReadText(list.List()), Z("a\n\0", 3));
    EXPECT_FALSE(list.ScratchLeft());
}

TEST(UninstallList, FalseWhenMemoryRunsOut) {
    const std::string before = Z("old\n\0", 5);
    ListFolder list(before);
    NothrowAllocationFailure failing(UNINSTALL_LIST_BUFFER_SIZE);
    ExpectRefused(list, InstallNames({"new"}), before, "no buffer");
    EXPECT_EQ(NothrowAllocationFailure::Refused(), 1u);
}

TEST(UninstallList, ALinkPlantedAtTheScratchNameIsReplacedNotFollowed) {
    TempFolder outside("victim");
    const std::string victim = "precious bytes outside the folder";
    ASSERT_TRUE(WriteWholeFile(outside / "victim", victim));
    ListFolder list(Z("old\n\0", 5));
    std::string output;
    if (RunUnixShell("ln -s " + Quoted(UnixPathOf(outside / "victim")) + " " +
                         Quoted(UnixPathOf(list.folder / UNINSTALL_LIST_SCRATCH_NAME)),
                     &output) != 0) {
        GTEST_SKIP() << "cannot make a host symbolic link: " << output;
    }
    ASSERT_EQ(ReadText(list.folder / UNINSTALL_LIST_SCRATCH_NAME), victim) << "the link resolves";
    EXPECT_TRUE(list.Update(InstallNames({"new"})));
    EXPECT_EQ(ReadText(list.List()), Z("old\nnew\n\0", 9));
    EXPECT_EQ(ReadText(outside / "victim"), victim);
    EXPECT_FALSE(list.ScratchLeft());
}

TEST(UninstallList, AListLinkedElsewhereIsNeitherReadNorReplaced) {
    TempFolder outside("linked");
    const std::string original = Z("outside\n\0", 9);
    ASSERT_TRUE(WriteWholeFile(outside / "list", original));
    TempFolder folder("linklist");
    HostLinks links;
    if (!links.Symbolic(outside / "list", folder / UNINSTALL_LIST_NAME)) {
        GTEST_SKIP() << "cannot make a host symbolic link: " << links.Why();
    }
    // Read, its text would be copied into the folder, readable by every user.
    EXPECT_FALSE(UpdateUninstallList(folder.Path().c_str(), InstallNames({"new"}).Slots()));
    EXPECT_TRUE(IsHostLink(folder / UNINSTALL_LIST_NAME));
    EXPECT_EQ(ReadText(outside / "list"), original);
    EXPECT_FALSE(Exists(folder / UNINSTALL_LIST_SCRATCH_NAME));
}

TEST(UninstallList, ADeviceOrAPipeAtTheListsNameIsFalseWithoutWaiting) {
    TempFolder folder("device");
    WithDeviceAndPipeAt(folder / UNINSTALL_LIST_NAME, [&](const std::string& made) {
        EXPECT_FALSE(UpdateUninstallList(folder.Path().c_str(), InstallNames({"a"}).Slots())) << made;
        EXPECT_FALSE(Exists(folder / UNINSTALL_LIST_SCRATCH_NAME));
    });
}

TEST(UninstallList, AFullDiskLeavesTheListIntact) {
    TempFolder base("full");
    const std::string folder = base / "disk";
    SmallDisk disk(folder);
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a small file system here: " << disk.reason;
    const std::string before = Z("old\n\0", 5);
    ASSERT_TRUE(WriteWholeFile(folder + "\\" + UNINSTALL_LIST_NAME, before));
    ASSERT_TRUE(FillDisk(folder)) << "the small disk did not fill up";
    EXPECT_FALSE(UpdateUninstallList(folder.c_str(), InstallNames({"new"}).Slots()));
    EXPECT_EQ(ReadText(folder + "\\" + UNINSTALL_LIST_NAME), before);
    EXPECT_FALSE(Exists(folder + "\\" + UNINSTALL_LIST_SCRATCH_NAME));
}

}  // namespace
