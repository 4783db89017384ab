#include "pack_diff.h"

#include <cstring>
#include <map>

#include "install/portable/uninstall_text.h"
#include "pack_files.h"
#include "pack_json.h"
#include "pack_list.h"
#include "pack_output.h"
#include "pack_paths.h"
#include "pack_text.h"
#include "pack_tree.h"
#include "package/portable/running_checksum.h"

namespace {

constexpr size_t NAMES_SHOWN = 8;

// "a", "b" and 3 more.
std::string NameList(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size() && i < NAMES_SHOWN; ++i) text += (i ? ", " : "") + Quoted(names[i]);
    if (names.size() > NAMES_SHOWN) text += " and " + std::to_string(names.size() - NAMES_SHOWN) + " more";
    return text;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

// Streams the new file, and the old one when given, through the checksum in
// lockstep, telling whether both hold the same bytes.
bool CompareFiles(const std::string& newPath, const std::string& oldPath, DiffFile& file, Progress& progress,
                  std::string& error) {
    File fresh = OpenForReading(newPath);
    File old = file.hasOld ? OpenForReading(oldPath) : File();
    if (!fresh || (file.hasOld && !old)) {
        error = "file " + Quoted(fresh ? oldPath : newPath) + ": cannot open: " + std::strerror(errno);
        return false;
    }
    ByteVector a(COPY_CHUNK_SIZE), b(COPY_CHUNK_SIZE);
    RunningChecksum newState{}, oldState{};
    bool same = file.hasOld;
    for (;;) {
        const size_t gotNew = std::fread(a.data(), 1, a.size(), fresh.get());
        const size_t gotOld = old ? std::fread(b.data(), 1, b.size(), old.get()) : 0;
        if (gotNew == 0 && gotOld == 0) break;
        Update(newState, a.data(), gotNew);
        Update(oldState, b.data(), gotOld);
        same = same && gotNew == gotOld && std::memcmp(a.data(), b.data(), gotNew) == 0;
        AdvanceProgress(progress, gotNew + gotOld);
    }
    if (std::ferror(fresh.get()) || (old && std::ferror(old.get()))) {
        error = "file " + Quoted(std::ferror(fresh.get()) ? newPath : oldPath) + ": read failed";
        return false;
    }
    StoreChecksum(newState, file.newChecksum);
    StoreChecksum(oldState, file.oldChecksum);
    file.status = !file.hasOld ? FileStatus::NEW : same ? FileStatus::UNCHANGED : FileStatus::CHANGED;
    return true;
}

const char* StatusName(FileStatus status) {
    return status == FileStatus::NEW ? "new" : status == FileStatus::CHANGED ? "changed" : "unchanged";
}

const char* FateName(RecordFate fate) {
    return fate == RecordFate::KEPT ? "kept" : fate == RecordFate::UPDATED ? "updated"
                                     : fate == RecordFate::ADDED ? "added" : "none";
}

bool IsMaintainedList(const std::string& path, const DiffOptions& options) {
    return PathKey(path) == PathKey(options.build.listName) || PathKey(path) == PathKey(UNINSTALL_LIST_NAME);
}

// The records of the base list, for telling what becomes of each file's record.
std::vector<HashValueRecord> BaseRecords(const std::string& path) {
    std::vector<HashValueRecord> records;
    ByteVector bytes;
    uint64_t size = 0;
    HashValueHeader header;
    std::string why;
    size_t trailing = 0;
    if (ReadSmallFile(path, PATCH_SIZE_LIMIT, bytes, size) != SmallFile::READ ||
        !ParseList(bytes, MAGIC_TESTED, header, records, trailing, why)) {
        records.clear();
    }
    return records;
}

RecordFate FateOf(const DiffFile& file, const std::vector<HashValueRecord>& records) {
    std::string sjis, why;
    const bool listed = StoredInstallPath(file.path, sjis, why) && FindPathRecord(records, sjis) >= 0;
    if (file.status == FileStatus::UNCHANGED) return listed ? RecordFate::KEPT : RecordFate::NONE;
    return listed ? RecordFate::UPDATED : RecordFate::ADDED;
}

// What the updater cannot do: more entries than the index holds, a file in a
// folder the game does not have, names that only letter case tells apart.
void CheckPackable(const Tree& oldTree, const Tree& newTree, DiffPlan& plan) {
    std::map<std::u32string, std::vector<std::string>> byKey;
    for (const TreeFile& file : newTree.files) byKey[PathKey(file.path)].push_back(file.path);
    for (const auto& group : byKey) {
        if (group.second.size() > 1) {
            plan.refusals.push_back("files whose names differ only in letter case, which Windows holds as one: " +
                                    NameList(group.second));
        }
    }
    std::set<std::u32string> oldFolders;
    for (const std::string& folder : oldTree.folders) oldFolders.insert(PathKey(folder));
    std::vector<std::string> packed, homeless;
    for (const DiffFile& file : plan.files) {
        if (file.status == FileStatus::UNCHANGED) continue;
        packed.push_back(file.path);
        const std::string folder = FolderOf(file.path);
        if (!folder.empty() && !oldFolders.count(PathKey(folder))) homeless.push_back(file.path);
    }
    if (!homeless.empty()) {
        plan.refusals.push_back("files in folders the old version does not have (the updater creates no folders): " +
                                NameList(homeless));
    }
    if (packed.empty()) plan.refusals.push_back("the two versions hold the same files: there is nothing to pack");
    if (packed.size() + 1 > PACKAGE_MAX_ENTRIES) {
        plan.refusals.push_back(std::to_string(packed.size()) + " files to pack and the list make " +
                                std::to_string(packed.size() + 1) + " entries, more than the " +
                                std::to_string(PACKAGE_MAX_ENTRIES) + " the updater accepts: " + NameList(packed));
    }
}

bool CompareTrees(const DiffOptions& options, const Tree& oldTree, const Tree& newTree, DiffPlan& plan,
                  std::string& error) {
    std::map<std::u32string, const TreeFile*> oldFiles;
    for (const TreeFile& file : oldTree.files) oldFiles[PathKey(file.path)] = &file;
    Progress progress;
    progress.enabled = options.build.progress && StderrIsTerminal();
    for (const TreeFile& file : newTree.files) {
        const auto old = oldFiles.find(PathKey(file.path));
        progress.total += file.size + (old != oldFiles.end() ? old->second->size : 0);
    }
    std::set<std::u32string> newKeys;
    for (const TreeFile& file : newTree.files) {
        newKeys.insert(PathKey(file.path));
        if (IsMaintainedList(file.path, options)) {
            plan.skipped.push_back(file.path);
            continue;
        }
        DiffFile diff;
        diff.path = file.path;
        diff.size = file.size;
        const auto old = oldFiles.find(PathKey(file.path));
        diff.hasOld = old != oldFiles.end();
        const std::string oldPath = diff.hasOld ? JoinPath(options.oldDir, old->second->path) : "";
        if (!CompareFiles(JoinPath(options.newDir, file.path), oldPath, diff, progress, error)) return false;
        plan.files.push_back(diff);
    }
    EndProgress(progress);
    for (const TreeFile& file : oldTree.files) {
        if (!newKeys.count(PathKey(file.path)) && !IsMaintainedList(file.path, options)) {
            plan.missing.push_back(file.path);
        }
    }
    return true;
}

// The output may be none of either version's files, packed or not.
void CheckOutput(const DiffOptions& options, const Tree& oldTree, const Tree& newTree, DiffPlan& plan) {
    std::vector<std::string> versionFiles;
    for (const TreeFile& file : oldTree.files) versionFiles.push_back(JoinPath(options.oldDir, file.path));
    for (const TreeFile& file : newTree.files) versionFiles.push_back(JoinPath(options.newDir, file.path));
    const std::string problem = OutputProblem(options.build.out, versionFiles);
    if (!problem.empty()) plan.refusals.push_back("output " + Quoted(options.build.out) + " " + problem);
}

std::string BaseListPath(const DiffOptions& options) {
    if (!options.baseList.empty()) return options.baseList;
    std::string path;
    return FindInFolder(options.oldDir, INSTALLED_LIST_NAME, path) == Found::FILE ? path : "";
}

void Build(const DiffOptions& options, const std::string& baseList, DiffPlan& plan) {
    BuildOptions build = options.build;
    build.baseList = baseList;
    build.planOnly = options.dryRun;
    build.inputs.clear();
    for (const DiffFile& file : plan.files) {
        if (file.status != FileStatus::UNCHANGED) build.inputs.push_back({JoinPath(options.newDir, file.path), file.path, true});
    }
    const BuildOutcome outcome = BuildPatch(build);
    plan.warnings.insert(plan.warnings.end(), outcome.warnings.begin(), outcome.warnings.end());
    if (!outcome.ok) plan.refusals.push_back(outcome.error);
    plan.written = outcome.ok && !options.dryRun;
}

}  // namespace

bool PlanDiff(const DiffOptions& options, DiffPlan& plan, std::string& error) {
    plan = DiffPlan{};
    Tree oldTree, newTree;
    if (!ReadTree(options.oldDir, oldTree, error) || !ReadTree(options.newDir, newTree, error)) return false;
    if (!CompareTrees(options, oldTree, newTree, plan, error)) return false;
    const std::string baseList = BaseListPath(options);
    const std::vector<HashValueRecord> records = BaseRecords(baseList);
    for (DiffFile& file : plan.files) file.record = FateOf(file, records);
    for (const std::string& path : plan.missing) {
        plan.warnings.push_back("file " + Quoted(path) + " is in the old version only: the updater never deletes "
                                "files, so players keep it");
    }
    for (const std::string& path : newTree.others) {
        plan.warnings.push_back(Quoted(path) + " in the new version is neither a file nor a folder that can be "
                                "examined (a pipe, a device, a link to nothing): not packed");
    }
    if (baseList.empty()) {
        plan.refusals.push_back("the old folder " + Quoted(options.oldDir) + " has no " + INSTALLED_LIST_NAME +
                                ": name the game's hash-value list with --base-list");
    }
    CheckPackable(oldTree, newTree, plan);
    CheckOutput(options, oldTree, newTree, plan);
    if (plan.refusals.empty()) Build(options, baseList, plan);
    return true;
}

namespace {

struct Totals {
    size_t packed = 0, updated = 0, added = 0, unchanged = 0;
    uint64_t bytes = 0;
};

Totals Count(const DiffPlan& plan) {
    Totals totals;
    for (const DiffFile& file : plan.files) {
        if (file.status == FileStatus::UNCHANGED) {
            ++totals.unchanged;
            continue;
        }
        ++totals.packed;
        totals.bytes += file.size;
        if (file.record == RecordFate::UPDATED) ++totals.updated;
        if (file.record == RecordFate::ADDED) ++totals.added;
    }
    return totals;
}

Json FileJson(const DiffFile& f) {
    return Json{{"path", f.path},
                {"status", StatusName(f.status)},
                {"size", f.size},
                {"oldChecksum", f.hasOld ? Json(ChecksumHex(f.oldChecksum)) : Json(nullptr)},
                {"newChecksum", ChecksumHex(f.newChecksum)},
                {"record", FateName(f.record)}};
}

void PrintJson(const DiffOptions& options, const DiffPlan& plan, FILE* out) {
    Json files = Json::array();
    for (const DiffFile& file : plan.files) files.push_back(FileJson(file));
    const Totals t = Count(plan);
    const Json totals{{"packed", t.packed},   {"updated", t.updated}, {"added", t.added},
                      {"unchanged", t.unchanged}, {"missing", plan.missing.size()}, {"bytes", t.bytes},
                      {"entries", t.packed + 1}};
    PrintJson(Json{{"old", options.oldDir},
                   {"new", options.newDir},
                   {"dryRun", options.dryRun},
                   {"files", files},
                   {"missing", plan.missing},
                   {"skipped", plan.skipped},
                   {"warnings", plan.warnings},
                   {"refusals", plan.refusals},
                   {"totals", totals},
                   {"written", plan.written}},
              out);
}

// Per file: status, install path, size, both checksums, the record's fate.
void PrintFiles(const DiffPlan& plan, FILE* out) {
    for (const DiffFile& f : plan.files) {
        const std::string old = f.hasOld ? ChecksumHex(f.oldChecksum) : "-";
        std::fprintf(out, "%-10s %s %12llu bytes  old %-16s  new %s  record %s\n", StatusName(f.status),
                     PadToColumns(f.path, 40).c_str(), static_cast<unsigned long long>(f.size), old.c_str(),
                     ChecksumHex(f.newChecksum).c_str(), FateName(f.record));
    }
    for (const std::string& path : plan.skipped) {
        std::fprintf(out, "%-10s %s (the updater maintains it in the game folder)\n", "not packed", path.c_str());
    }
    for (const std::string& path : plan.missing) std::fprintf(out, "%-10s %s\n", "old only", path.c_str());
}

// The whole plan for a dry run; otherwise only the totals.
void PrintText(const DiffOptions& options, const DiffPlan& plan, FILE* out) {
    if (options.dryRun) PrintFiles(plan, out);
    const Totals t = Count(plan);
    std::fprintf(out, "totals     %zu files packed (records: %zu updated, %zu added), %llu bytes, %zu entries with the "
                      "list; %zu unchanged; %zu in the old version only\n",
                 t.packed, t.updated, t.added, static_cast<unsigned long long>(t.bytes), t.packed + 1, t.unchanged,
                 plan.missing.size());
    if (!plan.refusals.empty()) {
        std::fprintf(out, "REFUSED\n");
    } else {
        std::fprintf(out, "%s %s\n", plan.written ? "written" : "would write", options.build.out.c_str());
    }
}

}  // namespace

void PrintDiffPlan(const DiffOptions& options, const DiffPlan& plan, bool json, FILE* out) {
    if (json) {
        PrintJson(options, plan, out);
    } else {
        PrintText(options, plan, out);
    }
}
