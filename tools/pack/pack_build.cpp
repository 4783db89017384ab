#include "pack_build.h"

#include <cerrno>
#include <cstring>
#include <map>

#include "pack_files.h"
#include "pack_list.h"
#include "pack_output.h"
#include "pack_paths.h"
#include "pack_read_ahead.h"
#include "pack_text.h"
#include "package/portable/install_names.h"
#include "package/portable/package_layout.h"
#include "package/portable/running_checksum.h"

namespace {

// One entry of the package as planned before anything is written.
struct PlannedEntry {
    std::string source;  // file to copy; empty for the list
    std::string name;    // stored name, Shift-JIS
    uint64_t size = 0;
    uint64_t offset = 0;
    int record = -1;     // the list record that carries its checksum
};

struct Plan {
    std::vector<PlannedEntry> entries;  // the list first
    std::vector<HashValueRecord> records;
    std::vector<bool> explicitPath;  // per file entry: install path given on the command line
    std::vector<std::string> installPaths;
    uint64_t dataBase = 0;
    uint64_t fileSize = 0;
    uint32_t listReserved = 0;  // the base list's, kept as the updater keeps it
};

using Refusal = std::string;  // empty: accepted

size_t NameLimit(bool shortIndex) { return (shortIndex ? SHORT_NAME_SIZE : LONG_NAME_SIZE) - 1; }

Refusal CheckOutput(const BuildOptions& options) {
    std::vector<std::string> sources = {options.stub, options.baseList};
    for (const PackInput& input : options.inputs) sources.push_back(input.file);
    const std::string problem = OutputProblem(options.out, sources);
    return problem.empty() ? "" : "output " + Quoted(options.out) + " " + problem;
}

Refusal CheckInputFile(const PackInput& input, uint64_t& size) {
    bool regular = false;
    if (StatFile(input.file, size, regular) && regular) return "";
    const std::string argument = input.pathGiven ? input.file + "=" + input.installPath : input.file;
    std::string why = "file " + Quoted(input.file) + NotAFileBecause(input.file);
    if (input.pathGiven) {
        why += " (the first \"=\" in " + Quoted(argument) + " ends FILE and begins its install path; a file whose "
               "name holds \"=\" must be packed under a name without one)";
    }
    return why;
}

// What failed, with the system's reason ("No space left on device").
Refusal WriteFailed(const std::string& what) { return what + " failed: " + std::strerror(errno); }

Refusal CheckEntryName(const std::string& sjis, const std::string& shown, bool shortIndex) {
    if (sjis.size() > NameLimit(shortIndex)) {
        return "name " + Quoted(shown) + ": " + std::to_string(sjis.size()) + " bytes in Shift-JIS, at most " +
               std::to_string(NameLimit(shortIndex)) + " fit the " + (shortIndex ? "short" : "long") + " index";
    }
    return "";
}

Refusal PlanListEntry(const BuildOptions& options, Plan& plan, std::vector<std::string>& warnings) {
    std::string sjis, why;
    const std::string& name = options.listName;
    if (!StoredInstallPath(name, sjis, why)) return "list name " + Quoted(name) + " " + why;
    if (LastComponent(sjis) != sjis) return "list name " + Quoted(name) + " is not a plain file name";
    const Refusal tooLong = CheckEntryName(sjis, name, options.shortIndex);
    if (!tooLong.empty()) return tooLong;
    std::u32string key, expected;
    ComponentKey(sjis, key);
    ComponentKey(HASH_VALUE_LIST_NAME, expected);
    if (key != expected) {
        warnings.push_back("list name " + Quoted(name) + " is not \"KVX.hvl\" in some letter case: the updater "
                           "will not find the list and installs every file unverified");
    }
    PlannedEntry list;
    list.name = sjis;
    plan.entries.push_back(list);
    return "";
}

// Install paths, stored names and sizes of the files, with the names checked
// against each other the way the updater will compare them.
Refusal PlanFileEntries(const BuildOptions& options, Plan& plan) {
    std::map<std::u32string, std::string> seen;  // key -> who uses it
    std::u32string listKey, loadedKey;
    ComponentKey(plan.entries[0].name, listKey);
    seen[listKey] = "the list " + Quoted(options.listName);
    // The updater loads the list from the entry of this name, whatever it holds.
    ComponentKey(HASH_VALUE_LIST_NAME, loadedKey);
    seen.emplace(loadedKey, "\"KVX.hvl\", the entry the updater loads the package's list from");

    for (const PackInput& input : options.inputs) {
        const bool given = input.pathGiven;
        const std::string path = given ? input.installPath : BaseName(input.file);
        const std::string shown = Quoted(path) + " (" + input.file + ")";
        std::string sjis, why;
        if (!StoredInstallPath(path, sjis, why)) return "install path " + shown + " " + why;
        if (sjis.size() > INSTALL_PATH_MAX) {
            return "install path " + shown + ": " + std::to_string(sjis.size()) +
                   " bytes in Shift-JIS, at most " + std::to_string(INSTALL_PATH_MAX) + " fit a list record";
        }
        PlannedEntry entry;
        entry.source = input.file;
        entry.name = LastComponent(sjis);
        const Refusal tooLong = CheckEntryName(entry.name, DisplayName(entry.name), options.shortIndex);
        if (!tooLong.empty()) return tooLong + " (" + input.file + ")";

        std::u32string key;
        ComponentKey(sjis, key);
        const auto clash = seen.find(key);
        if (clash != seen.end()) {
            return "install path " + shown + " ends in the same name as " + clash->second +
                   " (letter case aside): the updater could not tell them apart";
        }
        seen[key] = shown;

        const Refusal unreadable = CheckInputFile(input, entry.size);
        if (!unreadable.empty()) return unreadable;
        plan.entries.push_back(entry);
        plan.installPaths.push_back(sjis);
        plan.explicitPath.push_back(given);
    }
    return "";
}

Refusal ReadBaseList(const std::string& path, Plan& plan, std::vector<std::string>& warnings) {
    ByteVector bytes;
    uint64_t size = 0;
    const SmallFile read = ReadSmallFile(path, PATCH_SIZE_LIMIT, bytes, size);
    if (read == SmallFile::NOT_A_FILE) return "base list " + Quoted(path) + NotAFileBecause(path);
    if (read == SmallFile::TOO_LARGE) return "base list " + Quoted(path) + ": too large for a patch";
    if (read == SmallFile::UNREADABLE) return "base list " + Quoted(path) + ": cannot read it";
    HashValueHeader header;
    std::string why;
    size_t trailing = 0;
    if (!ParseList(bytes, MAGIC_TESTED, header, plan.records, trailing, why)) {
        return "base list " + Quoted(path) + " " + why;
    }
    plan.listReserved = header.reserved;
    if (trailing) {
        warnings.push_back("base list " + Quoted(path) + ": " + std::to_string(trailing) +
                           " bytes after its last record are not part of the list and were left out");
    }
    return "";
}

// A base record kept as the install path must itself be a safe relative path.
Refusal AdoptBasePath(const HashValueRecord& record, const std::string& baseList, std::string& sjis) {
    const std::string stored = RecordPath(record);
    std::string utf8, checked, why;
    if (!Cp932ToUtf8(stored, utf8)) return "base list " + Quoted(baseList) + ": a record path is not Shift-JIS";
    if (!StoredInstallPath(utf8, checked, why)) {
        return "base list " + Quoted(baseList) + ": record path " + Quoted(utf8) + " " + why;
    }
    sjis = stored;
    return "";
}

// A file packed under an explicit path gets its own record, where the updater
// finds it first: in place of the first record whose last component matches.
// A record of another file that shares the last component ("scene.arc" beside
// "sub\scene.arc") is kept after it; an older record of the same file is dropped.
void PlaceRecord(std::vector<HashValueRecord>& records, int firstMatch, const std::string& installPath) {
    const int same = FindPathRecord(records, installPath);
    if (same >= 0) records.erase(records.begin() + same);
    records.insert(records.begin() + firstMatch, MakeRecord(installPath));
}

// Files already in the base list take over their record (the first whose
// last component matches, as the updater finds it), or under an explicit
// path a record placed before it; the others get a new one.
Refusal PlanRecords(const BuildOptions& options, Plan& plan, std::vector<std::string>& warnings) {
    if (!options.baseList.empty()) {
        const Refusal unread = ReadBaseList(options.baseList, plan, warnings);
        if (!unread.empty()) return unread;
        const int own = FindRecord(plan.records, plan.entries[0].name);
        if (own >= 0) {
            return "base list " + Quoted(options.baseList) + ": record " + Quoted(DisplayName(RecordPath(plan.records[own]))) +
                   " names the list itself, whose checksum it cannot hold";
        }
    }
    for (size_t i = 1; i < plan.entries.size(); ++i) {
        PlannedEntry& entry = plan.entries[i];
        std::string& installPath = plan.installPaths[i - 1];
        const int found = FindRecord(plan.records, entry.name);
        if (found < 0) {
            plan.records.push_back(MakeRecord(installPath));
            continue;
        }
        if (plan.explicitPath[i - 1]) {
            PlaceRecord(plan.records, found, installPath);
            continue;
        }
        const Refusal unsafe = AdoptBasePath(plan.records[found], options.baseList, installPath);
        if (!unsafe.empty()) return unsafe;
        entry.name = LastComponent(installPath);
        const Refusal tooLong = CheckEntryName(entry.name, DisplayName(entry.name), options.shortIndex);
        if (!tooLong.empty()) return tooLong + " (" + entry.source + ")";
    }
    // Placing records moves the ones after them; each entry's is found as the updater finds it.
    for (size_t i = 1; i < plan.entries.size(); ++i) plan.entries[i].record = FindRecord(plan.records, plan.entries[i].name);
    plan.entries[0].size = sizeof(HashValueHeader) + plan.records.size() * sizeof(HashValueRecord);
    return "";
}

// The names the updater will install the entries under, judged by its own
// rules in index order, so that no patch is written that it would refuse.
Refusal CheckInstallNames(const Plan& plan) {
    std::vector<const char*> names;
    for (const PlannedEntry& entry : plan.entries) {
        const int record = FindRecord(plan.records, entry.name);
        names.push_back(record >= 0 ? plan.records[record].path : entry.name.c_str());
    }
    for (size_t j = 0; j < names.size(); ++j) {
        int sameNameAs;
        const InstallNameFault fault = JudgeInstallName(names[j], names.data(), j, CP932_NAME_RULES, sameNameAs);
        if (fault != NAME_ACCEPTED) {
            return "install path " + Quoted(DisplayName(names[j])) + " " + InstallNameFaultText(fault);
        }
    }
    return "";
}

Refusal PlanLayout(const BuildOptions& options, Plan& plan) {
    plan.dataBase = DataBaseOf(static_cast<uint32_t>(plan.entries.size()), !options.shortIndex);
    uint64_t offset = 0;
    for (PlannedEntry& entry : plan.entries) {
        entry.offset = offset;
        offset += entry.size;
        if (plan.dataBase + offset > PATCH_SIZE_LIMIT) {
            const std::string who = entry.source.empty() ? "the list" : Quoted(entry.source);
            return "with " + who + " the patch grows past " + std::to_string(PATCH_SIZE_LIMIT) +
                   " bytes, beyond what the updater can read";
        }
    }
    plan.fileSize = plan.dataBase + offset;
    return "";
}

template <typename Entry>
void AppendIndexEntry(ByteVector& out, const PlannedEntry& planned) {
    Entry entry{};
    std::memcpy(entry.name, planned.name.data(), planned.name.size());
    entry.offset = static_cast<uint32_t>(planned.offset);
    entry.size = static_cast<uint32_t>(planned.size);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&entry);
    out.insert(out.end(), bytes, bytes + sizeof entry);
}

ByteVector HeaderAndIndex(const Plan& plan, bool shortIndex) {
    PackageHeader header{};
    std::memcpy(header.magic, shortIndex ? SHORT_INDEX_MAGIC : PACKAGE_MAGIC, PACKAGE_MAGIC_SIZE);
    header.count = static_cast<uint32_t>(plan.entries.size());
    const uint8_t* headerBytes = reinterpret_cast<const uint8_t*>(&header);
    ByteVector out(headerBytes, headerBytes + sizeof header);
    for (const PlannedEntry& entry : plan.entries) {
        if (shortIndex) {
            AppendIndexEntry<ShortIndexEntry>(out, entry);
        } else {
            AppendIndexEntry<LongIndexEntry>(out, entry);
        }
    }
    return out;
}

bool WriteAll(FILE* out, const void* data, size_t size) {
    return size == 0 || std::fwrite(data, 1, size, out) == size;
}

// The program image, then zero bytes up to the package.
Refusal WriteStub(FILE* out, const std::string& stub, uint64_t stubSize) {
    ByteVector image(PACKAGE_OFFSET, 0);
    File in = OpenForReading(stub);
    if (!in || std::fread(image.data(), 1, static_cast<size_t>(stubSize), in.get()) != stubSize ||
        std::fgetc(in.get()) != EOF) {
        return "stub " + Quoted(stub) + ": cannot read it, or it changed while packing";
    }
    if (!WriteAll(out, image.data(), image.size())) return WriteFailed("writing the stub");
    return "";
}

// Copies one file in large chunks. The reading thread checksums each chunk
// it reads while this one writes the chunk before: the write is the slow part.
Refusal CopyEntry(FILE* out, const PlannedEntry& entry, Progress& progress, uint8_t checksum[CHECKSUM_SIZE]) {
    File in = OpenForReading(entry.source);
    if (!in) return "file " + Quoted(entry.source) + ": cannot open: " + std::strerror(errno);
    RunningChecksum state{};
    uint64_t copied = 0;
    Refusal failed;
    const auto copy = [&](const uint8_t* chunk, size_t size) {
        copied += size;
        if (copied > entry.size) return false;
        if (!WriteAll(out, chunk, size)) {
            failed = WriteFailed("writing " + Quoted(entry.source) + " into the patch");
            return false;
        }
        AdvanceProgress(progress, size);
        return true;
    };
    int readError = 0;
    if (ForEachChunk(in.get(), &state, copy, readError) == ChunkWalk::READ_FAILED) {
        return "file " + Quoted(entry.source) + ": read failed: " + std::strerror(readError);
    }
    if (!failed.empty()) return failed;
    if (copied != entry.size) return "file " + Quoted(entry.source) + ": changed size while packing";
    StoreChecksum(state, checksum);
    return "";
}

Refusal WritePatch(FILE* out, const BuildOptions& options, Plan& plan, uint64_t stubSize) {
    Refusal failed = WriteStub(out, options.stub, stubSize);
    if (!failed.empty()) return failed;
    const ByteVector index = HeaderAndIndex(plan, options.shortIndex);
    const uint64_t listPosition = plan.dataBase;
    // The list goes first but its checksums are known only after the copy:
    // its place is held now and filled in at the end, so every file is read once.
    const ByteVector placeholder = ListBytes(plan.listReserved, plan.records);
    if (!WriteAll(out, index.data(), index.size()) || !WriteAll(out, placeholder.data(), placeholder.size())) {
        return WriteFailed("writing the index");
    }
    Progress progress;
    progress.enabled = options.progress && StderrIsTerminal();
    for (const PlannedEntry& entry : plan.entries) progress.total += entry.source.empty() ? 0 : entry.size;
    for (size_t i = 1; i < plan.entries.size() && failed.empty(); ++i) {
        const PlannedEntry& entry = plan.entries[i];
        failed = CopyEntry(out, entry, progress, plan.records[entry.record].checksum);
    }
    EndProgress(progress);
    if (!failed.empty()) return failed;
    const ByteVector list = ListBytes(plan.listReserved, plan.records);
    if (!SeekTo(out, listPosition) || !WriteAll(out, list.data(), list.size())) return WriteFailed("writing the list");
    return "";
}

Refusal PlanPatch(const BuildOptions& options, Plan& plan, uint64_t& stubSize,
                  std::vector<std::string>& warnings) {
    if (options.inputs.size() + 1 > PACKAGE_MAX_ENTRIES) {
        return std::to_string(options.inputs.size()) + " files and the list make " +
               std::to_string(options.inputs.size() + 1) + " entries, more than the " +
               std::to_string(PACKAGE_MAX_ENTRIES) + " the updater accepts";
    }
    Refusal refused = CheckOutput(options);
    if (refused.empty()) refused = CheckStub(options.stub, options.stubMachine, stubSize);
    if (refused.empty()) refused = PlanListEntry(options, plan, warnings);
    if (refused.empty()) refused = PlanFileEntries(options, plan);
    if (refused.empty()) refused = PlanRecords(options, plan, warnings);
    if (refused.empty()) refused = CheckInstallNames(plan);
    if (refused.empty()) refused = PlanLayout(options, plan);
    return refused;
}

}  // namespace

BuildOutcome BuildPatch(const BuildOptions& options) {
    BuildOutcome outcome;
    Plan plan;
    uint64_t stubSize = 0;
    outcome.error = PlanPatch(options, plan, stubSize, outcome.warnings);
    if (!outcome.error.empty()) return outcome;
    if (options.planOnly) {
        outcome.ok = true;
        return outcome;
    }

    std::string tempPath;
    File out = CreateTemporaryOutput(options.out, tempPath);
    if (!out) {
        outcome.error = "output " + Quoted(options.out) + ": cannot create a file beside it: " + std::strerror(errno);
        return outcome;
    }
    outcome.error = WritePatch(out.get(), options, plan, stubSize);
    if (outcome.error.empty() && std::fclose(out.release()) != 0) outcome.error = WriteFailed("writing the patch");
    out.reset();
    if (outcome.error.empty() && !MoveOnto(tempPath, options.out)) {
        outcome.error = "output " + Quoted(options.out) + ": cannot move the finished patch into place";
    }
    if (!outcome.error.empty()) {
        DropTemporaryOutput(tempPath);
        return outcome;
    }
    KeepTemporaryOutput();
    outcome.ok = true;
    outcome.entries = plan.entries.size();
    outcome.patchBytes = plan.fileSize;
    return outcome;
}

PackInput ParseInputArgument(const std::string& argument) {
    const size_t equals = argument.find('=');
    if (equals == std::string::npos) return {argument, "", false};
    return {argument.substr(0, equals), argument.substr(equals + 1), true};
}
