#pragma once
// An installed game in a watched tree, and the check that a run kept its promise.
//
//   <root>\parent.bin          beside the install folder
//   <root>\outside\...         a sibling folder
//   <root>\game\...            the install folder
//
// Whatever a run returns, nothing outside "game" may change and no ".tmp" may be
// left. Inside "game", by the result:
//   UPDATE_OK                 every changed or new file holds the whole data of
//                             one package entry; the hash-value list is one of
//                             its sources (the installed list or an entry) or
//                             that source pruned only of records naming missing
//                             files; "uninst.lst" is one of its sources, its text
//                             kept as a prefix, then lines appended, then one NUL
//   UPDATE_E_UNINSTALL_LIST   as UPDATE_OK, but "uninst.lst" is one of its sources
//                             byte for byte
//   UPDATE_E_IO               a failed rename of the commit replaces the names
//                             before it and nothing else: every changed file
//                             holds a whole entry and the lists are not rewritten
//   anything else             the install folder byte for byte as before
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "package/update_result.h"
#include "package/package_format.h"
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

inline uint32_t ReadU32(const Bytes& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// The data of every entry of a patch file whose range lies inside the file,
// read straight from the layout: what a run may ever install.
inline std::vector<Bytes> PackageEntryContents(const Bytes& patch) {
    std::vector<Bytes> contents;
    if (patch.size() < PACKAGE_OFFSET + sizeof(PackageHeader)) return contents;
    const uint32_t count = ReadU32(patch, PACKAGE_OFFSET + PACKAGE_MAGIC_SIZE);
    if (count > PACKAGE_MAX_ENTRIES) return contents;
    const bool longEntries = std::memcmp(&patch[PACKAGE_OFFSET], PACKAGE_MAGIC, PACKAGE_MAGIC_SIZE) == 0;
    const size_t entrySize = longEntries ? sizeof(LongIndexEntry) : sizeof(ShortIndexEntry);
    const size_t nameSize = longEntries ? LONG_NAME_SIZE : SHORT_NAME_SIZE;
    const size_t index = PACKAGE_OFFSET + sizeof(PackageHeader);
    const uint32_t dataBase = static_cast<uint32_t>(index + count * entrySize);
    for (uint32_t j = 0; j < count; ++j) {
        const size_t field = index + j * entrySize + nameSize;
        if (field + 8 > patch.size()) break;
        const uint32_t start = dataBase + ReadU32(patch, field);  // wraps like the format's users
        const uint32_t size = ReadU32(patch, field + 4);
        // An empty entry reads nothing, so it installs an empty file wherever it points.
        if (size == 0) {
            contents.emplace_back();
        } else if (uint64_t{start} + size <= patch.size()) {
            contents.emplace_back(patch.begin() + start, patch.begin() + start + size);
        }
    }
    return contents;
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

// `actual` is `source` with its text kept and "name\n" lines appended, ending in one NUL.
inline bool IsExtendedFrom(const Bytes& actual, const Bytes& source) {
    const size_t text = !source.empty() && source.back() == 0 ? source.size() - 1 : source.size();
    if (actual.size() < text + 1 || !std::equal(source.begin(), source.begin() + text, actual.begin())) return false;
    if (actual.back() != 0) return false;
    size_t lineStart = text;
    for (size_t i = text; i + 1 < actual.size(); ++i) {
        if (actual[i] == 0) return false;
        if (actual[i] == '\n') {
            if (i == lineStart) return false;  // an empty name is never appended
            lineStart = i + 1;
        }
    }
    return lineStart == actual.size() - 1;
}

inline bool IsOneOf(const Bytes& bytes, const std::vector<Bytes>& candidates) {
    for (const Bytes& candidate : candidates) {
        if (bytes == candidate) return true;
    }
    return false;
}

// What is wrong with the tree after a run, or "" when the run kept its promise.
inline std::string CheckRunOutcome(UpdateResult result, const FolderSnapshot& before, const FolderSnapshot& after,
                                   const std::vector<Bytes>& entries, const std::string& install) {
    std::string problems;
    if (ResultName(result) == nullptr) problems += " undefined result " + std::to_string(result) + ";";
    if (SnapshotWithout(after, INSTALL_PREFIX) != SnapshotWithout(before, INSTALL_PREFIX)) {
        problems += " outside the install folder:" +
                    DescribeDifference(SnapshotWithout(before, INSTALL_PREFIX), SnapshotWithout(after, INSTALL_PREFIX)) +
                    ";";
    }
    for (const std::string& name : TemporaryFiles(after)) problems += " left " + name + ";";

    const FolderSnapshot old = SubSnapshot(before, INSTALL_PREFIX), now = SubSnapshot(after, INSTALL_PREFIX);
    const bool committed = result == UPDATE_OK || result == UPDATE_E_UNINSTALL_LIST;
    if (!committed && result != UPDATE_E_IO) {
        if (now != old) problems += " install folder touched:" + DescribeDifference(old, now) + ";";
        return problems;
    }
    for (const auto& item : old) {
        if (!now.count(item.first)) problems += " removed " + item.first + ";";
    }
    for (const auto& item : now) {
        auto was = old.find(item.first);
        if (was != old.end() && was->second == item.second) continue;
        std::vector<Bytes> sources = entries;
        if (was != old.end()) sources.push_back(was->second.bytes);
        if (IsFolder(item.second) || (was != old.end() && IsFolder(was->second))) {
            problems += " folder appeared or changed " + item.first + ";";
        } else if (committed && item.first == SnapshotKey(LIST_NAME)) {
            bool fits = IsOneOf(item.second.bytes, sources);
            for (const Bytes& source : sources) fits = fits || IsPrunedFrom(item.second.bytes, source, install);
            if (!fits) problems += " hash-value list is neither a source nor one pruned;";
        } else if (result == UPDATE_OK && item.first == SnapshotKey(UNINSTALL_NAME)) {
            bool fits = false;
            for (const Bytes& source : sources) fits = fits || IsExtendedFrom(item.second.bytes, source);
            if (!fits) problems += " uninst.lst lost bytes;";
        } else if (!IsOneOf(item.second.bytes, sources)) {
            problems += " " + item.first + " holds no whole entry;";
        } else if (item.second.attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
            // A file that was there and now holds new bytes was replaced, and carries
            // the fresh file's attributes; a new file may be hidden by its name alone.
            if (was != old.end() && was->second.bytes != item.second.bytes) {
                problems += " replaced " + item.first + " kept old attributes;";
            }
        }
    }
    return problems;
}

// Every file whose name starts with ESCAPE_STEM in `folder` (not recursive).
inline std::vector<std::string> EscapedFiles(const std::string& folder) {
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((folder + "\\" + ESCAPE_STEM + "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
        found.push_back(folder + "\\" + data.cFileName);
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
