#pragma once
// Wine 8 makes none of Windows' reparse points that are not links (system
// compression, cloud placeholders, deduplication), has no volume without a
// drive letter or mounted in a folder, and answers every question about a
// file's identity. While a WindowsAnswers lives, this test program's own
// import entries for GetFileAttributesA, GetFileInformationByHandle,
// GetFileInformationByHandleEx and GetFinalPathNameByHandleA answer for chosen
// files and folders as Windows answers for them there; the updater's code,
// linked into the test program, sees the same. Everything else gets Wine's
// own answers.
//
// Files and folders are chosen by where they really are (their final path as
// Wine gives it), so a file made later at a chosen name, or inside a chosen
// folder, is chosen too. One object at a time; make it before the function
// that is to see the answers starts (see WindowsRefusals).
#include <windows.h>

#include <string>

namespace testing_support {

// How a volume whose root is a chosen folder names its files.
enum class VolumeNaming {
    // Mounted in that folder, with no drive letter: VOLUME_NAME_DOS names the
    // files through the folder, and the root like a drive's, with a final "\".
    MOUNTED_IN_FOLDER,
    // No drive letter: VOLUME_NAME_DOS fails with ERROR_PATH_NOT_FOUND; the
    // volume GUID ("\\?\Volume{...}\") and NT ("\Device\HarddiskVolumeN\") forms answer.
    NO_DRIVE_LETTER,
    // Not known to the mount manager either: only the NT form answers.
    NT_NAME_ONLY,
};

class WindowsAnswers {
public:
    WindowsAnswers();
    ~WindowsAnswers();
    WindowsAnswers(const WindowsAnswers&) = delete;
    WindowsAnswers& operator=(const WindowsAnswers&) = delete;

    // False when the import entries could not be found or written.
    bool Installed() const { return installed_; }

    // The file or folder at `path` (made now or later; its folder must exist)
    // is a reparse point of `tag`: FILE_ATTRIBUTE_REPARSE_POINT in its
    // attributes, the tag in FileAttributeTagInfo. With `within`, so is
    // everything inside the folder. False when the folder cannot be found.
    bool ReparsePoint(const std::string& path, DWORD tag, bool within = false);

    // The existing folder at `path` is the root of a volume of its own; false
    // when it cannot be found.
    bool VolumeRoot(const std::string& path, VolumeNaming naming);

    // Every question about a file's identity (GetFileInformationByHandle and
    // GetFileInformationByHandleEx) fails with ERROR_INVALID_PARAMETER, as on a
    // file system that supports neither.
    void RefuseIdentity();

private:
    bool installed_ = false;
};

}  // namespace testing_support
