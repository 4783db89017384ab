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

#include "io/file_handle.h"
#include "package/hash_value_list.h"
#include "package/package_index.h"
#include "package/portable/package_format.h"
#include "package/portable/update_result.h"
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

constexpr DWORD KEPT_ATTRIBUTES = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// The result's name, or nullptr for a value no result has.
const char* ResultName(UpdateResult result);
// The result's name, or "undefined".
const char* OutcomeName(UpdateResult result);

// `actual` is `source` rewritten by the pruning: the first 12 header bytes kept,
// the count of the records kept, and those an in-order subsequence of the source's
// records where every record left out names a file missing from `install`.
bool IsPrunedFrom(const Bytes& actual, const Bytes& source, const std::string& install);

// `actual` is `source` extended for the names offered: its text kept, then,
// in order, each non-empty name that is no whole line yet (the ones appended
// before it included) as "name\n", a last line left open ended first; then one NUL.
bool IsExtendedFor(const Bytes& actual, const Bytes& source, const std::vector<std::string>& names);

// One entry as the run installs it: its install name and its data.
struct NamedEntry {
    std::string name;
    Bytes data;
};

// What is wrong with the tree after a run of the patch at `patchPath`, or ""
// when the run kept its promise.
std::string CheckRunOutcome(UpdateResult result, const FolderSnapshot& before, const FolderSnapshot& after,
                            const std::string& patchPath, const std::string& install);

// What is wrong with the tree after a run ended abruptly during its commit, or
// "": nothing outside the install folder changed; every name of the package and
// each list holds its old file, its entry or what one whole run leaves there
// (`completed`), never a part; every other file is as it was; the only new
// names are the temporary files of install names and of the two lists.
std::string CheckInterruptedRun(const FolderSnapshot& before, const FolderSnapshot& after,
                                const FolderSnapshot& completed, const std::vector<NamedEntry>& named);

// Removes and names whatever escaped; "" when nothing did.
std::string SweepEscapes();

}  // namespace testing_support
