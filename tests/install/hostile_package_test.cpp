// A seeded corpus of damaged and malicious packages, each run through the real
// update run with the real progress dialog against a watched install folder.
// Every case must end in a defined result, write nothing outside the install
// folder, leave no ".tmp", and change the install folder only as its result allows
// (see support/watched_install.h), and agree with the packer's inspect on the
// same file: rejected exactly when the run ends as a damaged package (or with
// too many entries). Rerun one case with SUNDRIFT_SEED and SUNDRIFT_CASE as
// printed on failure.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "install/link_guard.h"
#include "install/update_run.h"
#include "io/portable/chunk_size.h"
#include "pack_inspect.h"
#include "package/portable/package_format.h"
#include "support/dialog_harness.h"
#include "support/folder_snapshot.h"
#include "support/package_builder.h"
#include "support/reliability_tally.h"
#include "support/watched_install.h"
#include "support/win_files.h"
#include "ui/resource_ids.h"

using namespace testing_support;

namespace {

constexpr uint32_t DEFAULT_SEED = 0x5D1F7A11;
constexpr uint32_t CASES_PER_FAMILY = 440;
constexpr uint32_t LONG_CASES_PER_FAMILY = 4400;
// A case that runs longer than this has hung.
constexpr DWORD HANG_LIMIT_MS = 60000;

// ---- What runs now, for the watchdog and a crash report.

char currentCase[200] = "none";
volatile LONG caseRunning = 0;
volatile DWORD caseStartedAt = 0;

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    std::fprintf(stderr, "crash (exception %08lx) in %s\n", exception->ExceptionRecord->ExceptionCode, currentCase);
    std::fflush(stderr);
    return EXCEPTION_CONTINUE_SEARCH;
}

DWORD WINAPI Watchdog(void*) {
    for (;;) {
        Sleep(1000);
        const DWORD started = caseStartedAt;
        if (caseRunning && static_cast<LONG>(GetTickCount() - started) > static_cast<LONG>(HANG_LIMIT_MS)) {
            std::fprintf(stderr, "hang: %s ran longer than %lu ms\n", currentCase, HANG_LIMIT_MS);
            std::fflush(stderr);
            TerminateProcess(GetCurrentProcess(), 3);
        }
    }
}

void StartWatching() {
    static bool started = false;
    if (started) return;
    started = true;
    SetUnhandledExceptionFilter(ReportCrash);
    HANDLE thread = CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    if (thread) CloseHandle(thread);
}

// ---- Base packages: valid, each one installs cleanly before it is damaged.

const char SOFT_FOLDER[] = "\x83\x5C";  // "ソ": its trail byte is the code of "\"

struct Base {
    std::vector<TestEntry> entries;
    bool longEntries = true;
    int listEntry = -1;              // the entry holding the package's list, -1 without
    std::vector<int> recordEntry;    // per record, the entry it covers, or -1
};

// The list entry's records and the entries they cover.
void AddList(Base& base, const std::vector<std::pair<std::string, int>>& records) {
    std::vector<TestRecord> list;
    for (const auto& record : records) {
        const Bytes& data = record.second >= 0 ? base.entries[record.second].data : Bytes(5, 9);
        list.push_back({record.first, ChecksumOf(data)});
        base.recordEntry.push_back(record.second);
    }
    base.entries[base.listEntry].data = HashValueListBytes(list);
}

std::vector<Base> MakeBases() {
    std::vector<Base> bases;
    {   // As shipped: the list first, archives verified by it, one entry it does not cover.
        Base b;
        b.entries = {{"KVX.hvl", {}}, {"A.ARC", GeneratedBytes(3000, 1)}, {"b.arc", GeneratedBytes(70000, 2)},
                     {"d.arc", GeneratedBytes(500, 3)}, {"x.arc", GeneratedBytes(40, 4)}, {"new.bin", GeneratedBytes(100, 5)}};
        b.listEntry = 0;
        AddList(b, {{"a.arc", 1}, {"b.arc", 2}, {"sub\\d.arc", 3}, {std::string(SOFT_FOLDER) + "\\x.arc", 4},
                    {"gone.arc", -1}});
        bases.push_back(b);
    }
    {   // The 32-byte layout.
        Base b;
        b.longEntries = false;
        b.entries = {{"KVX.hvl", {}}, {"a.arc", GeneratedBytes(1000, 6)}, {"b.arc", GeneratedBytes(20, 7)},
                     {"new.bin", GeneratedBytes(300, 8)}};
        b.listEntry = 0;
        AddList(b, {{"a.arc", 1}, {"b.arc", 2}});
        bases.push_back(b);
    }
    {   // No list: every entry unverified, one with a Shift-JIS name.
        Base b;
        b.entries = {{"a.arc", GeneratedBytes(777, 9)}, {std::string(SOFT_FOLDER) + ".arc", GeneratedBytes(66, 10)},
                     {"new.bin", {}}};
        bases.push_back(b);
    }
    {   // Nothing to install: the commit still prunes and offers no names.
        bases.push_back(Base{});
    }
    {   // The list last, an entry of two chunks.
        Base b;
        b.entries = {{"a.arc", GeneratedBytes(10, 11)}, {"big.arc", GeneratedBytes(COPY_CHUNK_SIZE + 1, 12)}, {"kvx.HVL", {}}};
        b.listEntry = 2;
        AddList(b, {{"big.arc", 1}, {"a.arc", 0}});
        bases.push_back(b);
    }
    {   // The most entries a package may hold.
        Base b;
        b.entries.push_back({"KVX.hvl", {}});
        for (int i = 1; i < static_cast<int>(PACKAGE_MAX_ENTRIES); ++i) {
            b.entries.push_back({"e" + std::to_string(i) + ".arc", GeneratedBytes(i * 3, static_cast<uint8_t>(i))});
        }
        b.listEntry = 0;
        AddList(b, {{"e1.arc", 1}, {"e2.arc", 2}, {"e31.arc", 31}});
        bases.push_back(b);
    }
    return bases;
}

// Where everything of a built base stands in the patch file.
struct Layout {
    bool longEntries = true;
    uint32_t count = 0;
    size_t entrySize = 0;
    size_t nameSize = 0;
    size_t dataBase = 0;
    std::vector<size_t> dataStart;
    std::vector<size_t> dataSize;
    int listEntry = -1;
    uint32_t records = 0;
    std::vector<int> recordEntry;

    size_t Header() const { return PACKAGE_OFFSET; }
    size_t Count() const { return PACKAGE_OFFSET + PACKAGE_MAGIC_SIZE; }
    size_t Index() const { return PACKAGE_OFFSET + sizeof(PackageHeader); }
    size_t Name(uint32_t j) const { return Index() + j * entrySize; }
    size_t Offset(uint32_t j) const { return Name(j) + nameSize; }
    size_t Size(uint32_t j) const { return Offset(j) + 4; }
    size_t ListHeader() const { return dataStart[listEntry]; }
    size_t Record(uint32_t i) const { return ListHeader() + sizeof(HashValueHeader) + i * sizeof(HashValueRecord); }
};

struct BuiltBase {
    Bytes patch;
    Layout layout;
    std::vector<std::string> names;
};

BuiltBase Build(const Base& base) {
    BuiltBase built;
    built.patch = PatchBytes(PackageBytes(base.entries, base.longEntries));
    Layout& l = built.layout;
    l.longEntries = base.longEntries;
    l.count = static_cast<uint32_t>(base.entries.size());
    l.entrySize = base.longEntries ? sizeof(LongIndexEntry) : sizeof(ShortIndexEntry);
    l.nameSize = base.longEntries ? LONG_NAME_SIZE : SHORT_NAME_SIZE;
    l.dataBase = l.Index() + l.count * l.entrySize;
    size_t at = l.dataBase;
    for (const TestEntry& e : base.entries) {
        l.dataStart.push_back(at);
        l.dataSize.push_back(e.data.size());
        at += e.data.size();
        built.names.push_back(e.name);
    }
    l.listEntry = base.listEntry;
    l.records = static_cast<uint32_t>(base.recordEntry.size());
    l.recordEntry = base.recordEntry;
    return built;
}

// ---- Mutations.

class Mutator {
public:
    Mutator(Bytes& patch, const Layout& layout, uint32_t seed, const std::string& outsideFolder)
        : patch_(patch), layout_(layout), rng_(seed), outsideFolder_(outsideFolder) {}

    std::string description;

    uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }

    void HeaderAndIndex() {
        switch (Below(6)) {
            case 0: FlipBytes(layout_.Header(), sizeof(PackageHeader), "header"); break;
            case 1: FlipBytes(layout_.Index(), layout_.count * layout_.entrySize, "index"); break;
            case 2: SetU32(layout_.Count(), CountValue(), "entry count"); break;
            case 3: if (layout_.count) SetU32(layout_.Offset(Entry()), OffsetValue(), "entry offset"); break;
            case 4: if (layout_.count) SetU32(layout_.Size(Entry()), SizeValue(), "entry size"); break;
            default: FlipMagic(); break;
        }
    }

    void Names() {
        if (layout_.count == 0 || (layout_.records > 0 && OneIn(2))) {
            RecordName();
        } else if (OneIn(4)) {
            DuplicateEntryName();
        } else {
            const uint32_t j = Entry();
            SetField(layout_.Name(j), layout_.nameSize, HostileName(layout_.nameSize), "name of entry " + std::to_string(j));
        }
    }

    void HashValueList() {
        if (layout_.listEntry < 0) return Names();
        const size_t header = layout_.ListHeader();
        switch (Below(6)) {
            case 0: FlipBytes(header, HASH_VALUE_MAGIC_SIZE, "list magic"); break;
            case 1: SetU32(header + 8, Value32(), "list reserved"); break;
            case 2: SetU32(header + 12, RecordCountValue(), "record count"); break;
            case 3: FlipBytes(layout_.Record(0), layout_.records * sizeof(HashValueRecord), "records"); break;
            case 4: if (layout_.records) FlipBytes(layout_.Record(Below(layout_.records)) + RECORD_PATH_SIZE, CHECKSUM_SIZE, "checksum"); break;
            default: RecordName(); break;
        }
    }

    void Data() {
        switch (Below(5)) {
            case 0: if (layout_.count) FlipData(Entry()); break;
            case 1: Truncate(); break;
            case 2: Append(); break;
            case 3: if (layout_.count) SetU32(layout_.Offset(Entry()), OffsetValue(), "entry offset"); break;
            default: if (layout_.count) SetU32(layout_.Size(Entry()), SizeValue(), "entry size"); break;
        }
    }

    void Any() {
        switch (Below(4)) {
            case 0: HeaderAndIndex(); break;
            case 1: Names(); break;
            case 2: HashValueList(); break;
            default: Data(); break;
        }
    }

private:
    uint32_t Entry() { return Below(layout_.count); }

    uint32_t Value32() {
        static const uint32_t values[] = {0, 1, 32, 33, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
        return OneIn(4) ? static_cast<uint32_t>(rng_()) : values[Below(7)];
    }

    uint32_t CountValue() {
        if (OneIn(2)) return Value32();
        return Below(PACKAGE_MAX_ENTRIES + 2);  // 0 to 33
    }

    // From the data base: just inside, at and past the end of the file, and wrapping values.
    uint32_t OffsetValue() {
        const uint32_t toEnd = static_cast<uint32_t>(patch_.size() - layout_.dataBase);
        const uint32_t values[] = {toEnd - 1, toEnd, toEnd + 1, static_cast<uint32_t>(0u - layout_.dataBase),
                                   static_cast<uint32_t>(0u - layout_.dataBase + 1)};
        return OneIn(2) ? Value32() : values[Below(5)];
    }

    uint32_t SizeValue() {
        const uint32_t values[] = {static_cast<uint32_t>(patch_.size() - layout_.dataBase),
                                   static_cast<uint32_t>(patch_.size() - layout_.dataBase + 1), COPY_CHUNK_SIZE,
                                   COPY_CHUNK_SIZE + 1};
        return OneIn(2) ? Value32() : values[Below(4)];
    }

    uint32_t RecordCountValue() {
        const uint32_t n = layout_.records;
        const uint32_t values[] = {0, 1, n - 1, n + 1, n + 2, 0x03FFFFFF, 0x04000000, 0x04000001,
                                   0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
        return OneIn(4) ? Below(64) : values[Below(11)];
    }

    void Note(const std::string& what) { description += (description.empty() ? "" : ", ") + what; }

    void FlipBytes(size_t start, size_t length, const char* region) {
        if (length == 0 || start >= patch_.size()) return;
        if (start + length > patch_.size()) length = patch_.size() - start;
        const uint32_t flips = 1 + Below(4);
        for (uint32_t k = 0; k < flips; ++k) {
            const size_t at = start + Below(static_cast<uint32_t>(length));
            const uint8_t value = OneIn(2) ? static_cast<uint8_t>(patch_[at] ^ (1u << Below(8)))
                                           : static_cast<uint8_t>(rng_());
            patch_[at] = value;
            Note(std::string(region) + " byte " + std::to_string(at) + "=" + std::to_string(value));
        }
    }

    void SetU32(size_t at, uint32_t value, const std::string& what) {
        if (at + 4 > patch_.size()) return;
        PutU32(patch_, at, value);
        Note(what + "=" + std::to_string(value));
    }

    // Writes `text` into a field, cut to the field, zero after it.
    void SetField(size_t at, size_t size, const std::string& text, const std::string& what) {
        if (at + size > patch_.size()) return;
        for (size_t i = 0; i < size; ++i) patch_[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : 0;
        Note(what + "=\"" + text + "\"");
    }

    void FlipData(uint32_t j) { FlipBytes(layout_.dataStart[j], layout_.dataSize[j], "data"); }

    void FlipMagic() {
        const size_t at = layout_.Header() + Below(PACKAGE_MAGIC_SIZE);
        patch_[at] = static_cast<uint8_t>(patch_[at] ^ 0x20);  // a letter changes case: the other layout
        Note("magic byte " + std::to_string(at));
    }

    std::string HostileName(size_t fieldSize) {
        const std::string escape = ESCAPE_STEM;
        const std::string soft = SOFT_FOLDER;
        const std::vector<std::string> names = {
            "..\\outside\\a.arc", "..\\outside\\" + escape + ".arc", "..\\" + escape + ".arc",
            "..\\..\\" + escape + ".arc", "sub\\..\\..\\outside\\a.arc", "sub/../../" + escape + ".arc",
            "..", ".", "", " ", "sub\\", "sub\\.\\d.arc", "\\" + escape + ".arc", "/" + escape + ".arc",
            "C:\\" + escape + ".arc", "C:" + escape + ".arc", "c:/" + escape + ".arc", "Z:\\tmp\\" + escape + ".arc",
            "\\\\localhost\\C$\\" + escape + ".arc", "\\\\?\\C:\\" + escape + ".arc", "\\\\.\\C:\\" + escape + ".arc",
            "//localhost/C$/" + escape + ".arc", outsideFolder_ + "\\" + escape + ".arc",
            "a.arc:" + escape, "a.arc::$DATA", "CON", "NUL", "nul.arc", "COM1", "sub", "dir.arc", "sub\\d.arc",
            "A.ARC", "a.ARC", "kvx.HVL", "KVX.hvl", "UNINST.LST", "uninst.lst", "KVX.hvl.new", "uninst.lst.new",
            "a.arc.tmp", "a.arc.~0", "new.bin ", "new.bin.", "a?.arc", "sub\\b|c.arc", "x\x01.arc", "\x83\x7C.arc",
            soft + ".arc", soft + "\\x.arc",
            soft + "\\..\\..\\" + escape + ".arc", "\x95\x5C\\..\\..\\outside\\a.arc", "..\\" + soft + ".arc",
            "\x83", "a\x83", soft, "\x82\xA0.arc", "\x82\x60.ARC", "\x82\x81.arc",
            std::string(fieldSize - 1, 'n'), std::string(fieldSize, 'n'),
            std::string(fieldSize - 2, 'n') + "\x83", std::string(fieldSize - 3, 'n') + soft,
        };
        return names[Below(static_cast<uint32_t>(names.size()))];
    }

    // A hostile record path, and the entry it covered renamed to its last
    // component, so that the record matches and its path becomes the install name.
    void RecordName() {
        if (layout_.records == 0) return;
        const uint32_t i = Below(layout_.records);
        const std::string path = OneIn(5) ? CaseSwapped(RecordPathText(Below(layout_.records))) : HostileName(RECORD_PATH_SIZE);
        SetField(layout_.Record(i), RECORD_PATH_SIZE, path, "path of record " + std::to_string(i));
        const int j = layout_.recordEntry[i];
        if (j < 0) return;
        std::string last = LastComponent(path);
        if (last.size() >= layout_.nameSize) last.resize(layout_.nameSize - 1);
        SetField(layout_.Name(j), layout_.nameSize, last, "name of entry " + std::to_string(j));
    }

    // After the last "\" or "/" that is not the trail byte of a double-byte character.
    static std::string LastComponent(const std::string& path) {
        size_t start = 0;
        for (size_t i = 0; i < path.size(); ++i) {
            if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
                ++i;
            } else if (path[i] == '\\' || path[i] == '/') {
                start = i + 1;
            }
        }
        return path.substr(start);
    }

    std::string RecordPathText(uint32_t i) {
        const char* field = reinterpret_cast<const char*>(&patch_[layout_.Record(i)]);
        return std::string(field, strnlen(field, RECORD_PATH_SIZE));
    }

    std::string EntryNameText(uint32_t j) {
        const char* field = reinterpret_cast<const char*>(&patch_[layout_.Name(j)]);
        return std::string(field, strnlen(field, layout_.nameSize));
    }

    static std::string CaseSwapped(std::string text) {
        for (char& c : text) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
            else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return text;
    }

    void DuplicateEntryName() {
        const uint32_t j = Entry(), k = Entry();
        SetField(layout_.Name(j), layout_.nameSize, CaseSwapped(EntryNameText(k)), "name of entry " + std::to_string(j));
    }

    void Truncate() {
        const size_t points[] = {PACKAGE_OFFSET, PACKAGE_OFFSET + 8, layout_.Index(),
                                 layout_.Index() + layout_.entrySize / 2, layout_.dataBase,
                                 layout_.dataBase + 1, patch_.size() - 1};
        size_t at = OneIn(2) ? points[Below(7)] : PACKAGE_OFFSET + Below(static_cast<uint32_t>(patch_.size() - PACKAGE_OFFSET));
        if (OneIn(16)) at = Below(PACKAGE_OFFSET);
        if (at >= patch_.size()) return;
        patch_.resize(at);
        Note("cut at " + std::to_string(at));
    }

    void Append() {
        const uint32_t extra = 1 + Below(5000);
        for (uint32_t k = 0; k < extra; ++k) patch_.push_back(static_cast<uint8_t>(rng_()));
        Note("appended " + std::to_string(extra));
    }

    Bytes& patch_;
    const Layout& layout_;
    std::mt19937 rng_;
    std::string outsideFolder_;
};

// ---- The fixture: a watched install, the real dialog, the corpus loop.

class HostilePackages : public ::testing::Test {
protected:
    void SetUp() override {
        StartWatching();
        ResetDialogState();
        install_ = root_ / "game";
        outside_ = root_ / "outside";
        ASSERT_TRUE(CreateDirectoryA(install_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(outside_.c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(root_ / "parent.bin", BytesOf("beside the install folder")));
        ASSERT_TRUE(WriteWholeFile(outside_ + "\\a.arc", BytesOf("outside a")));
        ASSERT_TRUE(WriteWholeFile(outside_ + "\\KVX.hvl", HashValueListBytes({{"a.arc", Bytes(8, 1)}})));
        ASSERT_TRUE(WriteWholeFile(outside_ + "\\uninst.lst", Bytes({'a', '.', 'a', 'r', 'c', '\n', 0})));
        InstallOldGame();
        baseline_ = TakeFolderSnapshot(root_.Path());
        for (const Base& base : MakeBases()) bases_.push_back(Build(base));
        ASSERT_TRUE(SweepEscapes().empty()) << "files of an earlier run were left";
    }

    void TearDown() override {
        CloseProgressDialog(progressDialogHandle);
        caseRunning = 0;
    }

    void Put(const std::string& name, const Bytes& bytes) { ASSERT_TRUE(WriteWholeFile(install_ + "\\" + name, bytes)); }

    void InstallOldGame() {
        ASSERT_TRUE(CreateDirectoryA((install_ + "\\sub").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((install_ + "\\" + SOFT_FOLDER).c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((install_ + "\\dir.arc").c_str(), nullptr));  // a target no rename can replace
        Put("a.arc", BytesOf("old a"));
        Put("b.arc", BytesOf("old b"));
        Put("c.arc", BytesOf("old c"));
        Put("sub\\d.arc", BytesOf("old d"));
        Put(std::string(SOFT_FOLDER) + "\\x.arc", BytesOf("old x"));
        Put("hidden.arc", BytesOf("hidden"));
        ASSERT_TRUE(SetFileAttributesA((install_ + "\\hidden.arc").c_str(), FILE_ATTRIBUTE_HIDDEN));
        Put("KVX.hvl", HashValueListBytes({{"a.arc", Bytes(8, 1)}, {"b.arc", Bytes(8, 2)}, {"c.arc", Bytes(8, 3)},
                                           {"gone.arc", Bytes(8, 4)}, {"sub\\d.arc", Bytes(8, 5)}}, 0x12345678));
        const char lines[] = "a.arc\r\nb.arc\r\nc.arc\r\nsub\\d.arc\r\n";
        Put("uninst.lst", Bytes(lines, lines + sizeof lines));  // the lines, then one NUL
    }

    // One dialog for the whole family, made again only if a case destroyed it.
    void EnsureDialog() {
        if (progressDialogHandle && IsWindow(progressDialogHandle)) return;
        ASSERT_NE(OpenProgressDialog(), nullptr);
    }

    void RunFamily(const char* family, uint32_t familyNumber, const std::function<void(Mutator&)>& mutate) {
        const uint32_t seed = TestSeed(DEFAULT_SEED);
        ReliabilityTally tally(std::string("hostile packages: ") + family);
        RunSeededCases(
            tally, seed, LongRun() ? LONG_CASES_PER_FAMILY : CASES_PER_FAMILY,
            [&](uint32_t c) {
                const std::string problems = RunCase(familyNumber, seed, c, mutate, tally);
                return problems.empty() ? problems : currentCase + (":" + problems);
            },
            std::string(" --gtest_filter=*") + family);
    }

    std::string RunCase(uint32_t familyNumber, uint32_t seed, uint32_t c, const std::function<void(Mutator&)>& mutate,
                        ReliabilityTally& tally) {
        const uint32_t caseSeed = seed ^ (familyNumber * 0x9E3779B9u) ^ (c * 0x85EBCA6Bu);
        std::mt19937 pick(caseSeed);
        // The base of two chunks costs a megabyte per case: one case in sixteen.
        uint32_t baseNumber = pick() % bases_.size();
        if (baseNumber == 4 && pick() % 4 != 0) baseNumber = 0;
        const BuiltBase& base = bases_[baseNumber];
        Bytes patch = base.patch;
        Mutator mutator(patch, base.layout, caseSeed, outside_);
        const uint32_t mutations = 1 + pick() % 3;
        for (uint32_t m = 0; m < mutations; ++m) mutate(mutator);
        std::snprintf(currentCase, sizeof currentCase, "seed %u case %u (base %u: %s)", seed, c, baseNumber,
                      mutator.description.substr(0, 120).c_str());

        if (std::getenv("SUNDRIFT_VERBOSE")) std::printf("%s\n", currentCase), std::fflush(stdout);
        if (!WriteWholeFile(patchPath_, patch)) return " cannot write the patch file";
        EnsureDialog();
        cancelRequested = 0;
        abortRequested = 0;
        caseStartedAt = GetTickCount();
        caseRunning = 1;
        const UpdateResult result = UpdateRunFromPackage(patchPath_.c_str(), install_.c_str());
        caseRunning = 0;
        tally.Outcome(OutcomeName(result));

        const FolderSnapshot after = TakeFolderSnapshot(root_.Path());
        std::string problems = CheckRunOutcome(result, baseline_, after, patchPath_, install_);
        problems += SweepEscapes();
        problems += DisagreementWithInspect(result);
        if (!problems.empty()) problems = " result " + std::string(OutcomeName(result)) +
                                          ";" + problems + " [" + mutator.description + "]";
        if (after != baseline_ && !RestoreFolder(root_.Path(), baseline_)) problems += " cannot restore the folder";
        return problems;
    }

    // The run may end sooner with UPDATE_E_IO when the install folder, not the
    // package, stops an entry the run reaches first: a folder of its install
    // name that is missing (for a damaged checksum or data, the entry itself).
    bool FolderStopsTheRunFirst(const PackageVerdict& verdict) const {
        if (verdict.faultEntry < 0) return false;
        const PackageFault fault = verdict.entries[verdict.faultEntry].fault;
        const int last = fault == FAULT_DATA_SHORT || fault == FAULT_CHECKSUM ? verdict.faultEntry : verdict.faultEntry - 1;
        for (int j = 0; j <= last; ++j) {
            if (PassesThroughLinkedFolder(install_.c_str(), verdict.entries[j].installName.c_str())) return true;
        }
        return false;
    }

    std::string DisagreementWithInspect(UpdateResult result) const {
        Inspection inspection;
        std::string error;
        if (!InspectPatch(patchPath_, inspection, error)) return " inspect failed: " + error;
        const bool refusedAsDamaged = result == UPDATE_E_CORRUPT || result == UPDATE_E_TOO_MANY_ENTRIES;
        if (inspection.problems.empty()) return refusedAsDamaged ? " inspect accepts what the run refuses" : "";
        if (result == inspection.verdict.result) return "";
        if (result == UPDATE_E_IO && FolderStopsTheRunFirst(inspection.verdict)) return "";
        return " inspect rejects (" + inspection.problems[0] + ") what the run does not refuse as damaged";
    }

    TempFolder root_{"hostile"};
    TempFolder packageFolder_{"hostile-pkg"};
    std::string install_, outside_;
    std::string patchPath_ = packageFolder_ / "patch.exe";
    FolderSnapshot baseline_;
    std::vector<BuiltBase> bases_;
};

TEST_F(HostilePackages, UndamagedBasesInstall) {
    // The corpus starts from packages that do install: each base ends in UPDATE_OK.
    for (size_t b = 0; b < bases_.size(); ++b) {
        SCOPED_TRACE("base " + std::to_string(b));
        ASSERT_TRUE(WriteWholeFile(patchPath_, bases_[b].patch));
        EnsureDialog();
        EXPECT_EQ(UpdateRunFromPackage(patchPath_.c_str(), install_.c_str()), UPDATE_OK);
        const FolderSnapshot after = TakeFolderSnapshot(root_.Path());
        EXPECT_EQ(CheckRunOutcome(UPDATE_OK, baseline_, after, patchPath_, install_), "");
        EXPECT_NE(after, baseline_) << "the base changed nothing, so its damage would prove nothing";
        ASSERT_TRUE(RestoreFolder(root_.Path(), baseline_));
    }
}

// A file installed under a name that another entry uses for its temporary file
// would be moved onto that entry's name by the commit, or removed by the cleanup.
TEST_F(HostilePackages, InstallNamesEndingInTmpAreRefused) {
    const Bytes verified = GeneratedBytes(200, 1), other = GeneratedBytes(300, 2);
    const std::vector<std::vector<TestEntry>> packages = {
        {{"a.arc.tmp", other}, {"a.arc", verified}},
        {{"a.arc", verified}, {"A.ARC.TMP", other}},
        {{"KVX.hvl", HashValueListBytes({{"a.arc", ChecksumOf(verified)}, {"x.Tmp", ChecksumOf(other)}})},
         {"a.arc", verified}, {"x.tmp", other}},
        {{"new.tmp", other}},
        {{"a.arc.tmp.", other}, {"a.arc", verified}},
        {{"a.arc", verified}, {"a.arc ", other}},
    };
    for (size_t p = 0; p < packages.size(); ++p) {
        SCOPED_TRACE("package " + std::to_string(p));
        const Bytes patch = PatchBytes(PackageBytes(packages[p]));
        ASSERT_TRUE(WriteWholeFile(patchPath_, patch));
        EnsureDialog();
        EXPECT_EQ(UpdateRunFromPackage(patchPath_.c_str(), install_.c_str()), UPDATE_E_CORRUPT);
        const FolderSnapshot after = TakeFolderSnapshot(root_.Path());
        EXPECT_EQ(DescribeDifference(baseline_, after), " none");
        ASSERT_TRUE(RestoreFolder(root_.Path(), baseline_));
    }
}

TEST_F(HostilePackages, HeaderAndIndex) {
    RunFamily("HeaderAndIndex", 1, [](Mutator& m) { m.HeaderAndIndex(); });
}

TEST_F(HostilePackages, Names) {
    RunFamily("Names", 2, [](Mutator& m) { m.Names(); });
}

TEST_F(HostilePackages, HashValueList) {
    RunFamily("HashValueList", 3, [](Mutator& m) { m.HashValueList(); });
}

TEST_F(HostilePackages, Data) {
    RunFamily("Data", 4, [](Mutator& m) { m.Data(); });
}

TEST_F(HostilePackages, Mixed) {
    RunFamily("Mixed", 5, [](Mutator& m) { m.Any(); });
}

}  // namespace
