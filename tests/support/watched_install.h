#pragma once
// An installed game in a watched tree, and the check that a run kept its promise.
//
//   <root>\parent.bin          beside the install folder
//   <root>\outside\...         a sibling folder
//   <root>\game\...            the install folder
//
// Whatever a run returns, nothing outside "game" may change and no ".tmp" may be
// left. Inside "game", by the result:
//   UPDATE_OK                 every entry's data stands whole at its install
//                             name; every file the package does not name, but
//                             the two lists, is byte for byte and attribute for
//                             attribute as before; the hash-value list is one of
//                             its sources (the installed list or an entry) or
//                             that source pruned only of records naming missing
//                             files; "uninst.lst" is one of its sources, its text
//                             kept, then each installed name that is no whole
//                             line of it yet appended as a line, then one NUL
//   UPDATE_E_UNINSTALL_LIST   as UPDATE_OK, but "uninst.lst" is one of its sources
//                             byte for byte
//   UPDATE_E_IO               a failed rename of the commit replaces the names
//                             before it and nothing else: every changed file
//                             holds its own entry and the lists are not rewritten
//   anything else             the install folder byte for byte as before
// A list that is read-only, hidden or system stays as it was unless the package
// installs a file of its name.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "install/uninstall_text.h"
#include "io/file_handle.h"
#include "package/hash_value_list.h"
#include "package/package_format.h"
#include "package/package_index.h"
#include "package/update_result.h"
#include "support/folder_snapshot.h"
#include "support/package_builder.h"
#include "support/win_files.h"

namespace testing_support {

constexpr char INSTALL_PREFIX[] = "game\\";
constexpr char LIST_NAME[] = "KVX.hvl";
constexpr char UNINSTALL_NAME[] = "uninst.lst";
// Every name a hostile package uses to reach outside starts with this, so any
// file of that name anywhere is a write that escaped.
constexpr char ESCAPE_STEM[] = "sundrift-escape";

inline const char* ResultName(UpdateResult result) {
    switch (result) {
        case UPDATE_OK: return "OK";
        case UPDATE_E_CORRUPT: return "CORRUPT";
        case UPDATE_E_TOO_MANY_ENTRIES: return "TOO_MANY_ENTRIES";
        case UPDATE_E_IO: return "IO";
        case UPDATE_E_UNINSTALL_LIST: return "UNINSTALL_LIST";
        case UPDATE_E_CANCELLED: return "CANCELLED";
        case UPDATE_E_ABORTED: return "ABORTED";
        default: return nullptr;
    }
}

// `actual` is `source` rewritten by the pruning: the first 12 header bytes kept,
// the count of the records kept, and those an in-order subsequence of the source's
// records where every record left out names a file missing from `install`.
inline bool IsPrunedFrom(const Bytes& actual, const Bytes& source, const std::string& install) {
    if (source.size() < sizeof(HashValueHeader) || actual.size() < sizeof(HashValueHeader)) return false;
    if (!std::equal(source.begin(), source.begin() + 12, actual.begin())) return false;
    const uint32_t sourceCount = ReadU32(source, 12), kept = ReadU32(actual, 12);
    const uint64_t record = sizeof(HashValueRecord);
    if (sizeof(HashValueHeader) + sourceCount * record > source.size()) return false;
    if (actual.size() != sizeof(HashValueHeader) + kept * record || kept > sourceCount) return false;
    uint32_t next = 0;
    for (uint32_t i = 0; i < sourceCount; ++i) {
        const uint8_t* mine = &source[sizeof(HashValueHeader) + i * record];
        if (next < kept && std::memcmp(mine, &actual[sizeof(HashValueHeader) + next * record], record) == 0) {
            ++next;
            continue;
        }
        // Dropped: only a terminated path that names nothing in the folder may go.
        const char* path = reinterpret_cast<const char*>(mine);
        if (!std::memchr(path, 0, RECORD_PATH_SIZE)) return false;
        const std::string probe = install + "\\" + path;
        if (GetFileAttributesA(probe.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    }
    return next == kept;
}

// Whether `name` stands as a whole line of `text`: lines end at "\n", a "\r"
// before it not counted; the last line runs to the end.
inline bool HoldsLine(const std::string& text, const std::string& name) {
    for (size_t start = 0;;) {
        const size_t lineFeed = text.find('\n', start);
        std::string line = text.substr(start, lineFeed == std::string::npos ? std::string::npos : lineFeed - start);
        if (lineFeed != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
        if (line == name) return true;
        if (lineFeed == std::string::npos) return false;
        start = lineFeed + 1;
    }
}

// `actual` is `source` extended for the names offered: its text kept, then,
// in order, each non-empty name that is no whole line yet (the ones appended
// before it included) as "name\n", a last line left open ended first; then one NUL.
inline bool IsExtendedFor(const Bytes& actual, const Bytes& source, const std::vector<std::string>& names) {
    const size_t length = !source.empty() && source.back() == 0 ? source.size() - 1 : source.size();
    std::string text(source.begin(), source.begin() + length);
    for (const std::string& name : names) {
        if (name.empty() || HoldsLine(text, name)) continue;
        if (!text.empty() && text.back() != '\n') text += '\n';
        text += name + '\n';
    }
    text += '\0';
    return actual == BytesOf(text);
}

inline bool IsOneOf(const Bytes& bytes, const std::vector<Bytes>& candidates) {
    for (const Bytes& candidate : candidates) {
        if (bytes == candidate) return true;
    }
    return false;
}

// One entry as the run installs it: its install name and its data.
struct NamedEntry {
    std::string name;
    Bytes data;
};

// The entries of the patch at `patchPath` under the names the run gives them,
// found with the run's own index and list lookup (tested on their own): the
// check is about what stands at those names. Empty when the index cannot be
// read; an entry whose data do not lie in the file is left out, as no run that
// reads it commits.
inline std::vector<NamedEntry> NamedPackageEntries(const std::string& patchPath) {
    std::vector<NamedEntry> named;
    FileHandle image;
    PackageIndex index;
    HashValueList list;
    if (LoadPackageIndexFromFile(patchPath.c_str(), image, index) != UPDATE_OK ||
        LoadHashValueList(index, image, list) != UPDATE_OK) {
        return named;
    }
    const Bytes patch = ReadWholeFile(patchPath);
    for (uint32_t j = 0; j < index.count; ++j) {
        const uint64_t start = EntryPosition(index, j), size = EntrySize(index, j);
        if (size != 0 && start + size > patch.size()) continue;
        const Bytes data = size == 0 ? Bytes() : Bytes(patch.begin() + start, patch.begin() + start + size);
        named.push_back({LookUpRecord(list, EntryName(index, j)).installName, data});
    }
    return named;
}

// A name as the snapshot keys it: lower-cased, "/" as "\\" (never a trail byte).
inline std::string InstallKey(std::string name) {
    for (char& c : name) {
        if (c == '/') c = '\\';
    }
    return SnapshotKey(name);
}

inline bool IsListKey(const std::string& key) {
    return key == SnapshotKey(LIST_NAME) || key == SnapshotKey(UNINSTALL_NAME);
}

constexpr DWORD KEPT_ATTRIBUTES = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// What the list at `key` may hold after a committed run, given its source (the
// file before, or the entry installed under its name) and the names installed.
inline bool ListFits(const std::string& key, UpdateResult result, const Bytes& bytes, const Bytes& source,
                     const std::string& install, const std::vector<std::string>& names) {
    if (key == SnapshotKey(UNINSTALL_NAME)) {
        return result == UPDATE_OK ? IsExtendedFor(bytes, source, names) : bytes == source;
    }
    return bytes == source || IsPrunedFrom(bytes, source, install);
}

// The files of a committed run: every entry whole at its install name, the lists
// as ListFits allows, and every other file byte for byte and attribute for
// attribute as before. A list the package does not install that carried
// read-only, hidden or system stays as it was, as re-creating it is refused.
inline std::string CheckCommitted(UpdateResult result, const FolderSnapshot& old, const FolderSnapshot& now,
                                  const std::vector<NamedEntry>& named, const std::string& install) {
    std::string problems;
    std::map<std::string, const NamedEntry*> installed;
    std::vector<std::string> names;
    for (const NamedEntry& entry : named) installed[InstallKey(entry.name)] = &entry, names.push_back(entry.name);
    for (const auto& item : installed) {
        auto found = now.find(item.first);
        auto was = old.find(item.first);
        if (found == now.end()) {
            problems += " lost " + item.second->name + ";";
        } else if (IsListKey(item.first)) {
            if (!ListFits(item.first, result, found->second.bytes, item.second->data, install, names)) {
                problems += " list " + item.second->name + " is not the installed one;";
            }
        } else if (found->second.bytes != item.second->data) {
            problems += " " + item.second->name + " does not hold its entry;";
        } else if ((found->second.attributes & KEPT_ATTRIBUTES) && was != old.end() &&
                   was->second.bytes != item.second->data) {
            // A new file may be hidden by its name alone; a replaced one has the fresh file's attributes.
            problems += " replaced " + item.second->name + " kept old attributes;";
        }
    }
    for (const auto& item : old) {
        if (installed.count(item.first)) continue;
        auto found = now.find(item.first);
        if (found == now.end()) {
            problems += " removed " + item.first + ";";
        } else if (IsListKey(item.first) && !(item.second.attributes & KEPT_ATTRIBUTES)) {
            // Checked also when unchanged: a name missing from "uninst.lst" leaves nothing changed.
            if (!ListFits(item.first, result, found->second.bytes, item.second.bytes, install, names)) {
                problems += " list " + item.first + " is not as the run must leave it;";
            }
        } else if (found->second != item.second) {
            problems += " changed " + item.first + ";";
        }
    }
    for (const auto& item : now) {
        if (!old.count(item.first) && !installed.count(item.first)) problems += " appeared " + item.first + ";";
    }
    return problems;
}

// What is wrong with the tree after a run of the patch at `patchPath`, or ""
// when the run kept its promise.
inline std::string CheckRunOutcome(UpdateResult result, const FolderSnapshot& before, const FolderSnapshot& after,
                                   const std::string& patchPath, const std::string& install) {
    std::string problems;
    if (ResultName(result) == nullptr) problems += " undefined result " + std::to_string(result) + ";";
    if (SnapshotWithout(after, INSTALL_PREFIX) != SnapshotWithout(before, INSTALL_PREFIX)) {
        problems += " outside the install folder:" +
                    DescribeDifference(SnapshotWithout(before, INSTALL_PREFIX), SnapshotWithout(after, INSTALL_PREFIX)) +
                    ";";
    }
    for (const std::string& name : TemporaryFiles(after)) problems += " left " + name + ";";

    const FolderSnapshot old = SubSnapshot(before, INSTALL_PREFIX), now = SubSnapshot(after, INSTALL_PREFIX);
    if (result == UPDATE_OK || result == UPDATE_E_UNINSTALL_LIST) {
        return problems + CheckCommitted(result, old, now, NamedPackageEntries(patchPath), install);
    }
    if (result != UPDATE_E_IO) {
        if (now != old) problems += " install folder touched:" + DescribeDifference(old, now) + ";";
        return problems;
    }
    // A failed rename: the names before it replaced by their entries, nothing else.
    std::map<std::string, Bytes> installed;
    for (const NamedEntry& entry : NamedPackageEntries(patchPath)) installed[InstallKey(entry.name)] = entry.data;
    for (const auto& item : old) {
        if (!now.count(item.first)) problems += " removed " + item.first + ";";
    }
    for (const auto& item : now) {
        auto was = old.find(item.first);
        if (was != old.end() && was->second == item.second) continue;
        auto entry = installed.find(item.first);
        if (IsFolder(item.second) || entry == installed.end() || entry->second != item.second.bytes) {
            problems += " " + item.first + " changed without its entry;";
        }
    }
    return problems;
}

// What is wrong with the tree after a run ended abruptly during its commit, or
// "": nothing outside the install folder changed; every name of the package and
// each list holds its old file, its entry or what one whole run leaves there
// (`completed`), never a part; every other file is as it was; the only new
// names are the temporary files of install names and of the two lists.
inline std::string CheckInterruptedRun(const FolderSnapshot& before, const FolderSnapshot& after,
                                       const FolderSnapshot& completed, const std::vector<NamedEntry>& named) {
    std::string problems;
    if (SnapshotWithout(after, INSTALL_PREFIX) != SnapshotWithout(before, INSTALL_PREFIX)) {
        problems += " outside the install folder changed;";
    }
    const FolderSnapshot old = SubSnapshot(before, INSTALL_PREFIX), now = SubSnapshot(after, INSTALL_PREFIX),
                         done = SubSnapshot(completed, INSTALL_PREFIX);
    // Per name of the package and per list: the files it may hold.
    std::map<std::string, std::vector<Bytes>> replaced;
    for (const NamedEntry& entry : named) replaced[InstallKey(entry.name)].push_back(entry.data);
    for (const char* list : {LIST_NAME, UNINSTALL_NAME}) replaced[SnapshotKey(list)];
    for (auto& item : replaced) {
        for (const FolderSnapshot* state : {&old, &done}) {
            if (state->count(item.first)) item.second.push_back(state->at(item.first).bytes);
        }
        auto found = now.find(item.first);
        if (found == now.end()) {
            if (old.count(item.first)) problems += " lost " + item.first + ";";
        } else if (IsFolder(found->second) || !IsOneOf(found->second.bytes, item.second)) {
            problems += " " + item.first + " holds neither its old nor its new file;";
        }
    }
    for (const auto& item : old) {
        if (replaced.count(item.first)) continue;
        auto found = now.find(item.first);
        if (found == now.end() || found->second != item.second) problems += " changed " + item.first + ";";
    }
    for (const auto& item : now) {
        if (old.count(item.first) || replaced.count(item.first)) continue;
        // A killed run may leave its temporary files and the lists' scratch files, which the next run replaces.
        const bool scratch = item.first == SnapshotKey(INSTALLED_LIST_SCRATCH_NAME) ||
                             item.first == SnapshotKey(UNINSTALL_LIST_SCRATCH_NAME);
        const bool temporary = (scratch || (EndsWith(item.first, ".tmp") &&
                                            replaced.count(item.first.substr(0, item.first.size() - 4)))) &&
                               !IsFolder(item.second);
        if (!temporary) problems += " appeared " + item.first + ";";
    }
    return problems;
}

// Every file whose name starts with ESCAPE_STEM in `folder` (not recursive).
// The run writes files only; folders there are other test programs' own, made
// in the same temporary folder while this one runs.
inline std::vector<std::string> EscapedFiles(const std::string& folder) {
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((folder + "\\" + ESCAPE_STEM + "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) found.push_back(folder + "\\" + data.cFileName);
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return found;
}

// The folders a name with "..", a drive or a root could reach: the temporary
// folder above the watched tree, the root of C:, the host's /tmp.
inline std::vector<std::string> EscapeFolders() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string tempFolder = temp;
    if (EndsWith(tempFolder, "\\")) tempFolder.pop_back();
    return {tempFolder, "C:", "Z:\\tmp"};
}

// Removes and names whatever escaped; "" when nothing did.
inline std::string SweepEscapes() {
    std::string escaped;
    for (const std::string& folder : EscapeFolders()) {
        for (const std::string& path : EscapedFiles(folder)) {
            escaped += " escaped to " + path + ";";
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }
    return escaped;
}

}  // namespace testing_support
