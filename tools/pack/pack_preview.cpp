#include "pack_preview.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "entry/portable/outcome_text.h"
#include "install/portable/list_size.h"
#include "install/portable/record_probe.h"
#include "install/portable/uninstall_text.h"
#include "pack_files.h"
#include "pack_inspect.h"
#include "pack_json.h"
#include "pack_list.h"
#include "pack_text.h"
#include "pack_tree.h"
#include "package/portable/install_names.h"
#include "package/portable/multibyte_walk.h"
#include "package/portable/package_format.h"

namespace {

struct Run {
    std::string gameDir;
    Inspection inspection;
    File patch;
    Preview& preview;
    std::string windowsFolder;  // the game folder as the updater names it, code page 932; empty: unknown
};

std::string Shown(const std::string& sjis) { return "\"" + DisplayName(sjis) + "\""; }

// What stands at a Shift-JIS path inside the game folder.
Found Look(const Run& run, const std::string& sjis, std::string* hostPath = nullptr) {
    std::string utf8, host;
    if (!Cp932ToUtf8(sjis, utf8)) return Found::NOTHING;
    const Found found = FindInFolder(run.gameDir, utf8, host);
    if (hostPath) *hostPath = host;
    return found;
}

// The game folder as the updater will find it named, in code page 932: as
// given on Windows; inside a Wine prefix (".../drive_c/Games/X") as
// "C:\Games\X"; elsewhere unknown (empty).
std::string WindowsFolderOf(const std::string& gameDir) {
    std::string folder;
#ifdef _WIN32
    if (!Utf8ToCp932(gameDir, folder)) folder.clear();
#else
    char* resolved = realpath(gameDir.c_str(), nullptr);
    if (!resolved) return "";
    const std::string full = std::string(resolved) + "/";
    std::free(resolved);
    const std::string drive = "/drive_c/";
    const size_t at = full.find(drive);
    if (at == std::string::npos) return "";
    std::string windows = "C:\\" + full.substr(at + drive.size());
    if (windows.size() > 3) windows.pop_back();  // the "/" added above
    for (char& c : windows) c = c == '/' ? '\\' : c;
    if (!Utf8ToCp932(windows, folder)) folder.clear();
#endif
    return folder;
}

// Whether "<folder>\<name><suffix>" fits the updater's path buffer; true
// where the folder's Windows name is unknown.
bool PathFits(const Run& run, const std::string& name, size_t suffix) {
    if (run.windowsFolder.empty()) return true;
    return run.windowsFolder.size() + 1 + name.size() + suffix < UPDATER_PATH_SIZE;
}

// A folder, a device or what cannot be examined: no file can be made or replaced there.
bool BlocksAFile(Found found) {
    return found != Found::NOTHING && found != Found::FILE;
}

bool SameName(const std::string& a, const std::string& b) {
    return SameInstallName(a.c_str(), b.c_str(), CP932_NAME_RULES);
}

// The folders on the way to `name`, outermost first ("sub", "sub\deeper").
std::vector<std::string> FoldersOf(const std::string& name) {
    std::vector<std::string> folders;
    for (const char* p = name.c_str(); *p != '\0'; p = NextCharacter(p, IsCp932LeadByte)) {
        if (IsPathSeparator(*p)) folders.push_back(name.substr(0, static_cast<size_t>(p - name.c_str())));
    }
    return folders;
}

void Fail(Run& run, UpdateResult result, int entry, const std::string& why) {
    run.preview.result = result;
    run.preview.failedEntry = entry;
    run.preview.failure = entry >= 0 ? "entry " + std::to_string(entry) + " " +
                                           Shown(run.preview.entries[entry].installName) + ": " + why
                                     : why;
}

// The header, the index and the package's list, as the run loads them before anything else.
bool IndexAndListAccepted(Run& run) {
    const PackageVerdict& verdict = run.inspection.verdict;
    const PackageFault fault = verdict.fault;
    if (fault != FAULT_FILE_TOO_SHORT && fault != FAULT_TOO_MANY_ENTRIES && fault != FAULT_INDEX_SHORT &&
        fault != FAULT_NAME_UNTERMINATED && fault != FAULT_LIST_DAMAGED) {
        return true;
    }
    const std::vector<std::string>& problems = run.inspection.problems;
    Fail(run, verdict.result, -1, problems.empty() ? "the index cannot be read" : problems[0]);
    return false;
}

// Where the run creates the entry's temporary file: the folders on the way
// must exist, since the run creates none, and nothing may block the name.
std::string TemporaryFileProblem(const Run& run, const std::string& name) {
    for (const std::string& folder : FoldersOf(name)) {
        std::string host;
        const Found found = Look(run, folder, &host);
        if (found == Found::NOTHING) {
            return "the folder " + Shown(folder) + " does not exist in the game folder, and the updater creates no folders";
        }
        if (found != Found::FOLDER) return Shown(folder) + " in the game folder is not a folder";
        if (IsLink(host)) return "the folder " + Shown(folder) + " is a link, which the updater does not go through";
    }
    if (!PathFits(run, name, sizeof TEMPORARY_SUFFIX - 1)) return "its path in the game folder is too long";
    const Found temporary = Look(run, name + TEMPORARY_SUFFIX);
    if (BlocksAFile(temporary)) {
        return Shown(name + TEMPORARY_SUFFIX) + ", where its temporary file goes, is not a file";
    }
    return "";
}

// The package's reason to stop at an entry before its temporary file is made.
std::string FaultBeforeCopy(const EntryVerdict& entry) {
    if (entry.fault == FAULT_OUT_OF_REACH) return "its data start beyond what the updater can seek to";
    if (entry.fault != FAULT_INSTALL_NAME) return "";
    std::string why = std::string("its install name ") + InstallNameFaultText(entry.nameFault);
    if (entry.sameNameAs >= 0) why += " (entry " + std::to_string(entry.sameNameAs) + ")";
    return why;
}

// The package's reason to stop once the entry's data are copied.
std::string FaultAfterCopy(const PackageVerdict& verdict, const EntryVerdict& entry) {
    if (entry.fault == FAULT_DATA_SHORT) return "its data run past the end of the patch";
    if (entry.fault != FAULT_CHECKSUM) return "";
    return "its checksum " + ChecksumHex(entry.checksum) + " differs from its record's " +
           ChecksumHex(verdict.records[entry.record].checksum);
}

// The extraction pass: every entry copied and verified, or the first failure.
bool Extract(Run& run) {
    const PackageVerdict& verdict = run.inspection.verdict;
    for (size_t j = 0; j < verdict.entries.size(); ++j) {
        const EntryVerdict& entry = verdict.entries[j];
        PreviewEntry& shown = run.preview.entries[j];
        shown.reached = true;
        const int at = static_cast<int>(j);
        const std::string nameProblem = FaultBeforeCopy(entry);
        if (!nameProblem.empty()) {
            Fail(run, UPDATE_E_CORRUPT, at, nameProblem);
            return false;
        }
        if (entry.fault == FAULT_NAME_UNCREATABLE) {
            Fail(run, UPDATE_E_IO, at, "its install name holds a character Windows refuses in file names, so its "
                                       "temporary file cannot be created");
            return false;
        }
        const std::string folderProblem = TemporaryFileProblem(run, shown.installName);
        if (!folderProblem.empty()) {
            Fail(run, UPDATE_E_IO, at, folderProblem);
            return false;
        }
        const std::string dataProblem = FaultAfterCopy(verdict, entry);
        if (!dataProblem.empty()) {
            Fail(run, UPDATE_E_CORRUPT, at, dataProblem);
            return false;
        }
    }
    return true;
}

// The commit's renames, in index order; one onto a folder fails and ends it.
bool Commit(Run& run) {
    for (size_t j = 0; j < run.preview.entries.size(); ++j) {
        PreviewEntry& entry = run.preview.entries[j];
        const Found target = Look(run, entry.installName);
        if (BlocksAFile(target)) {
            Fail(run, UPDATE_E_IO, static_cast<int>(j),
                 target == Found::FOLDER ? "a folder stands at its name, and a file cannot replace it"
                                         : "something other than a file stands at its name, and a file cannot replace it");
            return false;
        }
        entry.installed = true;
    }
    run.preview.committed = true;
    return true;
}

bool ReadEntryData(Run& run, const EntryVerdict& entry, ByteVector& bytes) {
    if (entry.size > LARGEST_LIST_SIZE || !SeekTo(run.patch.get(), entry.position)) return false;
    bytes.resize(entry.size);
    return bytes.empty() || std::fread(bytes.data(), 1, bytes.size(), run.patch.get()) == bytes.size();
}

// A list file as the run reads it after the renames: the installed entry of
// that name, else the game folder's own file. False when its path is too long
// for the updater, when it is missing, no plain file, a link or one of several
// names of a file, or larger than the run reads, and when something other than
// a file blocks `scratch`, the file its rewrite goes through (whose name is no
// longer than the list's).
bool ListAfterRenames(Run& run, const std::string& name, const std::string& scratch, ByteVector& bytes) {
    if (!PathFits(run, name, 0) || BlocksAFile(Look(run, scratch))) return false;
    for (size_t j = 0; j < run.preview.entries.size(); ++j) {
        if (SameName(run.preview.entries[j].installName, name)) return ReadEntryData(run, run.inspection.verdict.entries[j], bytes);
    }
    std::string host;
    uint64_t size = 0;
    return Look(run, name, &host) == Found::FILE && !IsLink(host) && !HasOtherNames(host) &&
           ReadSmallFile(host, LARGEST_LIST_SIZE, bytes, size) == SmallFile::READ;
}

bool PresentAfterRenames(const Run& run, const HashValueRecord& record) {
    const std::string path = RecordPath(record);
    if (!RecordIsProbed(record, IsCp932LeadByte) || !PathFits(run, path, 0)) return true;  // never missing
    for (const PreviewEntry& entry : run.preview.entries) {
        if (SameName(entry.installName, path)) return true;
    }
    return Look(run, path) != Found::NOTHING;
}

// The installed list pruned to the records whose files exist after the renames.
void Prune(Run& run) {
    Preview& preview = run.preview;
    ByteVector bytes;
    HashValueHeader header;
    std::vector<HashValueRecord> records;
    size_t trailing = 0;
    std::string why;
    if (!ListAfterRenames(run, INSTALLED_LIST_NAME, INSTALLED_LIST_SCRATCH_NAME, bytes)) {
        preview.listNote = "no readable " + std::string(INSTALLED_LIST_NAME) + " after the renames: left as it is";
        return;
    }
    if (!ParseList(bytes, MAGIC_IGNORED, header, records, trailing, why)) {
        preview.listNote = "it " + why + ": left as it is";
        return;
    }
    std::vector<HashValueRecord> kept;
    for (const HashValueRecord& record : records) {
        const bool present = PresentAfterRenames(run, record);
        (present ? preview.keptRecords : preview.droppedRecords).push_back(RecordPath(record));
        if (present) kept.push_back(record);
    }
    header.count = static_cast<uint32_t>(kept.size());
    const uint8_t* headerBytes = reinterpret_cast<const uint8_t*>(&header);
    preview.listAfter.assign(headerBytes, headerBytes + sizeof header);
    const uint8_t* keptBytes = reinterpret_cast<const uint8_t*>(kept.data());
    preview.listAfter.insert(preview.listAfter.end(), keptBytes, keptBytes + kept.size() * sizeof(HashValueRecord));
    preview.listRewritten = true;
}

// The uninstaller's list extended by the names just installed; its outcome is the run's.
void ExtendUninstallList(Run& run) {
    Preview& preview = run.preview;
    ByteVector bytes;
    if (!ListAfterRenames(run, UNINSTALL_LIST_NAME, UNINSTALL_LIST_SCRATCH_NAME, bytes)) {
        preview.uninstallNote = std::string("no readable ") + UNINSTALL_LIST_NAME + " in the game folder";
        Fail(run, UPDATE_E_UNINSTALL_LIST, -1, preview.uninstallNote + ": every file is replaced all the same");
        return;
    }
    std::unique_ptr<char[]> buffer(new char[UNINSTALL_LIST_BUFFER_SIZE]);
    if (!bytes.empty()) std::memcpy(buffer.get(), bytes.data(), bytes.size());
    uint32_t length = 0;
    std::vector<const char*> names;
    for (const PreviewEntry& entry : preview.entries) names.push_back(entry.installName.c_str());
    names.push_back(nullptr);
    const bool readable = UninstallTextLength(buffer.get(), static_cast<uint32_t>(bytes.size()), length);
    if (readable) buffer[length] = '\0';
    const uint32_t before = length;
    if (!readable || !AppendMissingNames(buffer.get(), length, names.data())) {
        preview.uninstallNote = std::string(UNINSTALL_LIST_NAME) +
                                (readable ? " would outgrow what the updater handles" : " is not in the list format");
        Fail(run, UPDATE_E_UNINSTALL_LIST, -1, preview.uninstallNote + ": every file is replaced all the same");
        return;
    }
    for (uint32_t start = before, i = before; i < length; ++i) {
        if (buffer[i] != '\n') continue;
        // The first "\n" may only end the old last line.
        if (i > start) preview.appendedLines.emplace_back(buffer.get() + start, i - start);
        start = i + 1;
    }
    preview.uninstallAfter.assign(buffer.get(), buffer.get() + length + 1);
    preview.uninstallRewritten = true;
    preview.result = UPDATE_OK;
}

void Simulate(Run& run) {
    if (!IndexAndListAccepted(run)) return;
    for (const EntryVerdict& entry : run.inspection.verdict.entries) {
        PreviewEntry shown;
        shown.storedName = entry.storedName;
        shown.record = entry.record;
        shown.installName = entry.installName;
        run.preview.entries.push_back(shown);
    }
    for (PreviewEntry& entry : run.preview.entries) entry.replaces = Look(run, entry.installName) == Found::FILE;
    if (!Extract(run) || !Commit(run)) return;
    Prune(run);
    ExtendUninstallList(run);
}

}  // namespace

bool PreviewPatch(const std::string& patch, const std::string& gameDir, Preview& preview, std::string& error,
                  bool progress) {
    preview = Preview{};
    if (FindInFolder(gameDir, "", error) != Found::FOLDER) {
        error = "\"" + gameDir + "\" is not a folder";
        return false;
    }
    Run run{gameDir, Inspection{}, File(), preview, WindowsFolderOf(gameDir)};
    if (!InspectPatch(patch, run.inspection, error, progress)) return false;
    run.patch = OpenForReading(patch);
    if (!run.patch) {
        error = Quoted(patch) + ": not a readable file";
        return false;
    }
    Simulate(run);
    return true;
}

uint32_t PreviewExitCode(const Preview& preview) { return preview.result; }

namespace {

// The player's texts are compiled in the build's execution character set.
std::string PlayerText(const char* text) {
#ifdef _WIN32
    return DisplayName(text);
#else
    return text;
#endif
}

const char* ResultName(UpdateResult result) {
    switch (result) {
        case UPDATE_OK: return "UPDATE_OK";
        case UPDATE_E_CORRUPT: return "UPDATE_E_CORRUPT";
        case UPDATE_E_TOO_MANY_ENTRIES: return "UPDATE_E_TOO_MANY_ENTRIES";
        case UPDATE_E_IO: return "UPDATE_E_IO";
        case UPDATE_E_UNINSTALL_LIST: return "UPDATE_E_UNINSTALL_LIST";
        default: return "UPDATE_E_UNKNOWN";
    }
}

std::string EntryFate(const PreviewEntry& entry) {
    if (!entry.reached) return "not reached";
    std::string fate = entry.replaces ? "replaces" : "adds";
    fate += entry.record >= 0 ? ", verified by record " + std::to_string(entry.record) : ", unverified";
    return fate + (entry.installed ? ", installed" : ", not installed");
}

Json JsonNames(const std::vector<std::string>& sjisNames) {
    Json names = Json::array();
    for (const std::string& name : sjisNames) names.push_back(DisplayName(name));
    return names;
}

Json EntryJson(const PreviewEntry& e) {
    return Json{{"name", DisplayName(e.storedName)},
                {"installName", DisplayName(e.installName)},
                {"replaces", e.replaces},
                {"verified", e.record >= 0},
                {"record", e.record},
                {"reached", e.reached},
                {"installed", e.installed}};
}

void PrintJson(const Preview& p, FILE* out) {
    const char* text = OutcomeText(p.result);
    Json entries = Json::array();
    for (const PreviewEntry& entry : p.entries) entries.push_back(EntryJson(entry));
    PrintJson(Json{{"result", ResultName(p.result)},
                   {"exitCode", PreviewExitCode(p)},
                   {"message", text ? Json(PlayerText(text)) : Json(nullptr)},
                   {"failedEntry", p.failedEntry},
                   {"failure", p.failure},
                   {"entries", entries},
                   {"list", Json{{"rewritten", p.listRewritten},
                                 {"note", p.listNote},
                                 {"kept", JsonNames(p.keptRecords)},
                                 {"dropped", JsonNames(p.droppedRecords)}}},
                   {"uninstallList", Json{{"rewritten", p.uninstallRewritten},
                                          {"note", p.uninstallNote},
                                          {"appended", JsonNames(p.appendedLines)}}}},
              out);
}

void PrintText(const Preview& p, FILE* out) {
    for (size_t j = 0; j < p.entries.size(); ++j) {
        const PreviewEntry& e = p.entries[j];
        std::fprintf(out, "entry %2zu   %s %s\n", j, PadToColumns(DisplayName(e.installName), 32).c_str(),
                     EntryFate(e).c_str());
    }
    if (p.listRewritten) {
        std::fprintf(out, "list       %s rewritten: %zu records kept, %zu dropped\n", INSTALLED_LIST_NAME,
                     p.keptRecords.size(), p.droppedRecords.size());
        for (const std::string& path : p.droppedRecords) std::fprintf(out, "dropped    %s\n", DisplayName(path).c_str());
    } else if (p.committed) {
        std::fprintf(out, "list       %s\n", p.listNote.c_str());
    }
    for (const std::string& line : p.appendedLines) {
        std::fprintf(out, "uninst.lst appends \"%s\"\n", DisplayName(line).c_str());
    }
    if (p.uninstallRewritten && p.appendedLines.empty()) std::fprintf(out, "uninst.lst appends nothing\n");
    std::fprintf(out, "result     %s (exit code 0x%08X)%s%s\n", ResultName(p.result), PreviewExitCode(p),
                 p.failure.empty() ? "" : ": ", p.failure.c_str());
    const char* text = OutcomeText(p.result);
    if (text) {
        std::fprintf(out, "message    %s (%s)\n", PlayerText(text).c_str(),
                     OutcomeIsWarning(p.result) ? "warning" : "information");
    }
}

}  // namespace

void PrintPreview(const Preview& preview, bool json, FILE* out) {
    if (json) {
        PrintJson(preview, out);
    } else {
        PrintText(preview, out);
    }
}
