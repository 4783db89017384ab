#pragma once
// A folder tree captured byte for byte, to prove that a run left it alone, and
// put back as it was between cases.
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/win_files.h"

namespace testing_support {

struct SnapshotItem {
    std::string name;  // relative, in the letter case the file system stores
    std::vector<uint8_t> bytes;
    DWORD attributes = 0;  // without FILE_ATTRIBUTE_ARCHIVE, which every write sets
};

// Relative name, lower-cased as the file system compares names, -> the item;
// folders end in "/", which no file name holds (a name may end in the trail
// byte 0x5C). A replaced file may take the letter case of its new name.
using FolderSnapshot = std::map<std::string, SnapshotItem>;

constexpr char FOLDER_MARK[] = "/";

bool IsFolder(const SnapshotItem& item);

std::string SnapshotKey(std::string name);

bool operator==(const SnapshotItem& a, const SnapshotItem& b);
bool operator!=(const SnapshotItem& a, const SnapshotItem& b);

FolderSnapshot TakeFolderSnapshot(const std::string& root);

// The part of a snapshot under `prefix` ("game\"), with the prefix removed.
FolderSnapshot SubSnapshot(const FolderSnapshot& all, const std::string& prefix);

// Everything not under `prefix`.
FolderSnapshot SnapshotWithout(const FolderSnapshot& all, const std::string& prefix);

bool EndsWith(const std::string& text, const std::string& tail);

// Names (relative) of every ".tmp" file in a snapshot.
std::vector<std::string> TemporaryFiles(const FolderSnapshot& snapshot);

// A short account of what differs, for failure messages.
std::string DescribeDifference(const FolderSnapshot& before, const FolderSnapshot& after);

// Makes the tree under `root` hold exactly `snapshot` again. Folders that cannot
// be removed (a file system mounted there) are emptied and kept.
bool RestoreFolder(const std::string& root, const FolderSnapshot& snapshot);

}  // namespace testing_support
