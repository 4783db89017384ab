#pragma once
// Wine, run as root as the tests are, accepts file operations that Windows
// refuses: a rename that replaces a read-only file, and CREATE_ALWAYS or
// TRUNCATE_EXISTING over a read-only, hidden or system file. The updater's
// answers to those refusals would then never run in a test.
//
// While a WindowsRefusals lives, this test program's own import entries for
// MoveFileExA, MoveFileA, CreateFileA and DeleteFileA lead to functions that
// apply Windows' rules first and otherwise call the real ones. The updater's
// code is linked into the test program, so it sees them as well; the system's
// own libraries and other processes do not. Windows' rules, for an existing
// file (folders are left to Wine):
// - a rename that replaces a read-only file, and the deletion of one, are
//   refused; a link planted at the name counts as the link itself, which is
//   never read-only on the host;
// - CREATE_ALWAYS or TRUNCATE_EXISTING over a read-only file, over a hidden
//   one without FILE_ATTRIBUTE_HIDDEN or a system one without
//   FILE_ATTRIBUTE_SYSTEM asked for, and writing to or deleting on close a
//   read-only file, are refused (through a link: what it points to counts,
//   unless FILE_FLAG_OPEN_REPARSE_POINT is given).
// A refused call fails with ERROR_ACCESS_DENIED and changes nothing.
// SetFileAttributesA is left as it is: Windows refuses none of the attribute
// changes that Wine accepts.
//
// Make the object before the function that is to see the refusals starts:
// within one function the compiler may read an import entry only once. Not
// thread-safe; nested objects keep the entries replaced until the outermost
// one ends.
#include <windows.h>

namespace testing_support {

class WindowsRefusals {
public:
    WindowsRefusals();
    ~WindowsRefusals();
    WindowsRefusals(const WindowsRefusals&) = delete;
    WindowsRefusals& operator=(const WindowsRefusals&) = delete;

    // False when the import entries could not be found or written; they are
    // then as they were.
    bool Installed() const { return installed_; }

    // Calls refused in this process so far, by any object.
    static unsigned Refused();

private:
    bool installed_ = false;
};

}  // namespace testing_support
