#include "support/folder_snapshot.h"

namespace testing_support {

bool IsFolder(const SnapshotItem& item) { return (item.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

std::string SnapshotKey(std::string name) {
    if (!name.empty()) CharLowerBuffA(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

bool operator==(const SnapshotItem& a, const SnapshotItem& b) {
    return a.bytes == b.bytes && a.attributes == b.attributes;
}
bool operator!=(const SnapshotItem& a, const SnapshotItem& b) { return !(a == b); }

static void AddToFolderSnapshot(const std::string& root, const std::string& relative, FolderSnapshot& out) {
    WIN32_FIND_DATAA found;
    const std::string pattern = root + (relative.empty() ? "" : "\\" + relative) + "\\*";
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = relative.empty() ? name : relative + "\\" + name;
        const DWORD attributes = found.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_ARCHIVE};
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[SnapshotKey(path + FOLDER_MARK)] = SnapshotItem{path, {}, attributes};
            AddToFolderSnapshot(root, path, out);
        } else {
            out[SnapshotKey(path)] = SnapshotItem{path, ReadWholeFile(root + "\\" + path), attributes};
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

FolderSnapshot TakeFolderSnapshot(const std::string& root) {
    FolderSnapshot snapshot;
    AddToFolderSnapshot(root, "", snapshot);
    return snapshot;
}

FolderSnapshot SubSnapshot(const FolderSnapshot& all, const std::string& prefix) {
    FolderSnapshot part;
    for (const auto& item : all) {
        if (item.first.compare(0, prefix.size(), prefix) == 0 && item.first.size() > prefix.size()) {
            part[item.first.substr(prefix.size())] = item.second;
        }
    }
    return part;
}

FolderSnapshot SnapshotWithout(const FolderSnapshot& all, const std::string& prefix) {
    FolderSnapshot rest;
    for (const auto& item : all) {
        if (item.first.compare(0, prefix.size(), prefix) != 0) rest[item.first] = item.second;
    }
    return rest;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::string> TemporaryFiles(const FolderSnapshot& snapshot) {
    std::vector<std::string> names;
    for (const auto& item : snapshot) {
        if (EndsWith(item.first, ".tmp")) names.push_back(item.first);
    }
    return names;
}

std::string DescribeDifference(const FolderSnapshot& before, const FolderSnapshot& after) {
    std::string text;
    for (const auto& item : before) {
        auto found = after.find(item.first);
        if (found == after.end()) {
            text += " removed:" + item.first;
        } else if (found->second.bytes != item.second.bytes) {
            text += " changed:" + item.first;
        } else if (found->second.attributes != item.second.attributes) {
            text += " attributes:" + item.first;
        }
    }
    for (const auto& item : after) {
        if (!before.count(item.first)) text += " added:" + item.first;
    }
    return text.empty() ? " none" : text;
}

bool RestoreFolder(const std::string& root, const FolderSnapshot& snapshot) {
    RemoveTree(root);
    if (!CreateDirectoryA(root.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    for (const auto& item : snapshot) {  // a folder's name sorts before its contents
        const std::string path = root + "\\" + item.second.name;
        if (IsFolder(item.second)) {
            if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
        } else if (!WriteWholeFile(path, item.second.bytes)) {
            return false;
        }
    }
    for (const auto& item : snapshot) {
        const std::string path = root + "\\" + item.second.name;
        const DWORD attributes = item.second.attributes & ~DWORD{FILE_ATTRIBUTE_DIRECTORY};
        SetFileAttributesA(path.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
    }
    return TakeFolderSnapshot(root) == snapshot;
}

}  // namespace testing_support
