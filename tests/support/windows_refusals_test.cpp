// Each of Windows' refusals as WindowsRefusals makes them, and what it lets through.
#include "support/windows_refusals.h"

#include <gtest/gtest.h>

#include <string>

#include "support/host_links.h"
#include "support/win_files.h"

using namespace testing_support;

namespace {

// A file holding `text` with `attributes`.
void Make(const std::string& path, const std::string& text, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(WriteWholeFile(path, text));
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes));
}

// The call returned failure with ERROR_ACCESS_DENIED, counted as one refusal.
#define EXPECT_REFUSED(call)                                \
    do {                                                    \
        const unsigned before = WindowsRefusals::Refused(); \
        SetLastError(0);                                    \
        EXPECT_FALSE(call) << #call;                        \
        EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED}) << #call; \
        EXPECT_EQ(WindowsRefusals::Refused(), before + 1) << #call; \
    } while (0)

bool Opened(HANDLE h) {
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

// Not inlined: within one function the compiler may read an import entry once,
// before an object in that function has replaced it.
[[gnu::noinline]] bool Open(const std::string& path, DWORD access, DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return Opened(CreateFileA(path.c_str(), access, 0, nullptr, disposition, flags, nullptr));
}

TEST(WindowsRefusals, ARenameOrDeletionRefusesAReadOnlyTargetOnly) {
    TempFolder folder("refusals");
    const std::string from = folder / "from", to = folder / "to";
    WindowsRefusals refusals;
    ASSERT_TRUE(refusals.Installed());

    Make(from, "new");
    Make(to, "old", FILE_ATTRIBUTE_READONLY);
    EXPECT_REFUSED(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_REFUSED(DeleteFileA(to.c_str()));
    EXPECT_EQ(ReadText(from), "new");
    EXPECT_EQ(ReadText(to), "old");

    for (DWORD attributes : {DWORD{FILE_ATTRIBUTE_HIDDEN}, DWORD{FILE_ATTRIBUTE_SYSTEM}}) {
        Make(from, "new");
        Make(to, "old", attributes);
        EXPECT_TRUE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) << attributes;
        EXPECT_EQ(ReadText(to), "new");
    }
    // A read-only file may itself be renamed, and a plain one deleted.
    Make(from, "read-only source", FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(MoveFileA(from.c_str(), (folder / "moved").c_str()));
    EXPECT_TRUE(MoveFileExA((folder / "moved").c_str(), from.c_str(), 0));
    EXPECT_EQ(ReadText(from), "read-only source");
    EXPECT_TRUE(DeleteFileA(to.c_str()));
    EXPECT_FALSE(FileExists(to));
}

TEST(WindowsRefusals, OverwritingRefusesReadOnlyHiddenAndSystemFiles) {
    TempFolder folder("refusals");
    const std::string path = folder / "f";
    WindowsRefusals refusals;
    ASSERT_TRUE(refusals.Installed());
    for (DWORD attributes : {DWORD{FILE_ATTRIBUTE_READONLY}, DWORD{FILE_ATTRIBUTE_HIDDEN}, DWORD{FILE_ATTRIBUTE_SYSTEM}}) {
        SCOPED_TRACE(attributes);
        Make(path, "old", attributes);
        EXPECT_REFUSED(Open(path, GENERIC_WRITE, CREATE_ALWAYS));
        EXPECT_REFUSED(Open(path, GENERIC_WRITE, TRUNCATE_EXISTING));
        EXPECT_EQ(ReadText(path), "old");
        EXPECT_TRUE(Open(path, GENERIC_READ, OPEN_EXISTING));
    }
    // Asking for the hidden or system attribute that the file has is allowed.
    Make(path, "old", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_TRUE(Open(path, GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(ReadText(path), "");
    // A read-only file is neither written nor deleted on close, whatever the disposition.
    Make(path, "old", FILE_ATTRIBUTE_READONLY);
    EXPECT_REFUSED(Open(path, GENERIC_WRITE, OPEN_EXISTING));
    EXPECT_REFUSED(Open(path, FILE_APPEND_DATA, OPEN_ALWAYS));
    EXPECT_REFUSED(Open(path, DELETE, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE));
    EXPECT_TRUE(Open(path, DELETE | FILE_WRITE_ATTRIBUTES, OPEN_EXISTING));
    EXPECT_EQ(ReadText(path), "old");
    EXPECT_TRUE(Open(folder / "new", GENERIC_WRITE, CREATE_ALWAYS)) << "nothing there yet";
}

TEST(WindowsRefusals, ALinkCountsAsItselfWhenRenamedOntoAndAsItsTargetWhenOpened) {
    TempFolder folder("refusals");
    const std::string target = folder / "target", link = folder / "link", from = folder / "from";
    Make(target, "kept", FILE_ATTRIBUTE_READONLY);
    HostLinks links;
    if (!links.Symbolic(target, link)) GTEST_SKIP() << "cannot plant a link on the host: " << links.Why();
    WindowsRefusals refusals;
    ASSERT_TRUE(refusals.Installed());

    EXPECT_REFUSED(Open(link, GENERIC_WRITE, CREATE_ALWAYS));
    Make(from, "new");
    EXPECT_TRUE(MoveFileExA(from.c_str(), link.c_str(), MOVEFILE_REPLACE_EXISTING)) << "the link itself is replaced";
    EXPECT_EQ(ReadText(link), "new");
    EXPECT_EQ(ReadText(target), "kept");
    EXPECT_TRUE(GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST(WindowsRefusals, TheSystemsOwnAnswersComeBackWhenTheLastObjectEnds) {
    TempFolder folder("refusals");
    const std::string path = folder / "f";
    Make(path, "old", FILE_ATTRIBUTE_READONLY);
    const bool systemRefuses = !Open(path, GENERIC_WRITE, OPEN_EXISTING);
    {
        WindowsRefusals outer;
        {
            WindowsRefusals inner;
            ASSERT_TRUE(inner.Installed());
        }
        EXPECT_REFUSED(Open(path, GENERIC_WRITE, OPEN_EXISTING));
    }
    EXPECT_EQ(!Open(path, GENERIC_WRITE, OPEN_EXISTING), systemRefuses);
}

}  // namespace
