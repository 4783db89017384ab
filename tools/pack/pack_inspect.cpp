#include "pack_inspect.h"

#include <algorithm>
#include <cstring>

#include "pack_files.h"
#include "pack_image.h"
#include "pack_json.h"
#include "pack_list.h"
#include "pack_text.h"
#include "package/portable/package_layout.h"
#include "package/portable/record_lookup.h"

namespace {

// A magic this close to the long layout's is probably that one, damaged.
constexpr int NEAR_MAGIC_DIFFERENCES = 2;

// The patch as the verdict reads it; the bytes read count as progress.
struct PatchReading {
    FILE* file;
    Progress progress;
};

bool ReadFileAt(void* context, uint64_t position, void* buffer, uint32_t length) {
    PatchReading* reading = static_cast<PatchReading*>(context);
    if (!SeekTo(reading->file, position) || std::fread(buffer, 1, length, reading->file) != length) return false;
    AdvanceProgress(reading->progress, length);
    return true;
}

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string HexOffset(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

std::string EntryLabel(const EntryVerdict& entry, size_t j) {
    return "entry " + std::to_string(j) + " " + DisplayName(entry.storedName);
}

std::string FaultText(const PackageVerdict& verdict, const EntryVerdict& entry) {
    switch (entry.fault) {
        case FAULT_OUT_OF_REACH: return "its data start beyond " + Hex32(SEEK_LIMIT) + ", where the updater cannot seek";
        case FAULT_INSTALL_NAME:
            return "install name \"" + DisplayName(entry.installName) + "\" " + InstallNameFaultText(entry.nameFault) +
                   (entry.sameNameAs >= 0 ? " (entry " + std::to_string(entry.sameNameAs) + ")" : "");
        case FAULT_NAME_UNCREATABLE:
            return "install name \"" + DisplayName(entry.installName) +
                   "\" holds a character Windows refuses in file names: the updater cannot create its file";
        case FAULT_DATA_SHORT: return "its data run past the end of the file";
        case FAULT_CHECKSUM:
            return "checksum " + ChecksumHex(entry.checksum) + " differs from " +
                   ChecksumHex(verdict.records[entry.record].checksum);
        default: return "";
    }
}

const char* ListAbsence(ListState state) {
    switch (state) {
        case LIST_NO_ENTRY: return "no entry named \"kvx.hvl\" in any letter case";
        case LIST_OUT_OF_REACH: return "its data start beyond where the updater can seek";
        case LIST_HEADER_SHORT: return "its header cannot be read";
        case LIST_WRONG_MAGIC: return "its magic is not \"KHV_____\"";
        case LIST_COUNT_OVERFLOW: return "its count is larger than any list";
        case LIST_RECORDS_PAST_ENTRY: return "its records run past its entry's size";
        case LIST_RECORDS_PAST_END: return "its records run past the end of the file";
        case LIST_LOADED: break;
    }
    return "";
}

// The faults that end the run before its first entry.
std::string RunStartFaultText(const PackageVerdict& verdict) {
    switch (verdict.fault) {
        case FAULT_FILE_TOO_SHORT: return "the file ends before the package header at 0x40000 is complete";
        case FAULT_TOO_MANY_ENTRIES:
            return std::to_string(verdict.header.count) + " entries, more than " + std::to_string(PACKAGE_MAX_ENTRIES);
        case FAULT_INDEX_SHORT: return "the index is cut short by the end of the file";
        case FAULT_NAME_UNTERMINATED:
            return "entry " + std::to_string(verdict.faultEntry) + " has a name without terminator";
        case FAULT_LIST_DAMAGED:
            return "the list in " + EntryLabel(verdict.entries[verdict.listEntry], verdict.listEntry) +
                   " cannot be loaded (" + ListAbsence(verdict.listState) + "): a damaged package";
        default: return "";
    }
}

void CollectProblems(Inspection& inspection) {
    const PackageVerdict& verdict = inspection.verdict;
    const std::string start = RunStartFaultText(verdict);
    if (!start.empty()) inspection.problems.push_back(start);
    for (size_t j = 0; j < verdict.entries.size(); ++j) {
        const EntryVerdict& entry = verdict.entries[j];
        if (entry.fault != FAULT_NONE) inspection.problems.push_back(EntryLabel(entry, j) + ": " + FaultText(verdict, entry));
    }
}

int MagicDifferences(const PackageHeader& header) {
    int differences = 0;
    for (size_t i = 0; i < PACKAGE_MAGIC_SIZE; ++i) differences += header.magic[i] != PACKAGE_MAGIC[i];
    return differences;
}

// The end of the entries' data within the file, and how many bytes between
// the data base and that end belong to no entry.
uint64_t DataEnd(const PackageVerdict& verdict, uint64_t& uncovered) {
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    for (const EntryVerdict& entry : verdict.entries) {
        const uint64_t end = std::min<uint64_t>(uint64_t{entry.position} + entry.size, verdict.fileSize);
        if (entry.size > 0 && entry.position >= verdict.dataBase && entry.position < end) {
            spans.emplace_back(entry.position, end);
        }
    }
    std::sort(spans.begin(), spans.end());
    uint64_t covered = verdict.dataBase;
    uncovered = 0;
    for (const auto& span : spans) {
        if (span.first > covered) uncovered += span.first - covered;
        covered = std::max(covered, span.second);
    }
    return covered;
}

bool ZeroFilled(const PackageReader& reader, uint64_t from, uint64_t to) {
    std::vector<uint8_t> bytes(static_cast<size_t>(to > from ? to - from : 0));
    if (bytes.empty()) return true;
    if (!reader.readAt(reader.context, from, bytes.data(), static_cast<uint32_t>(bytes.size()))) return false;
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

// The signature where a signing tool puts it: after the last entry's data
// and their padding, and last in the file.
bool SignatureInPlace(const Inspection& inspection) {
    const ImageLayout& image = inspection.image;
    return image.certificateOffset >= inspection.dataEnd &&
           image.certificateOffset - inspection.dataEnd < CERTIFICATE_ALIGNMENT &&
           image.certificateOffset + image.certificateSize == inspection.verdict.fileSize;
}

// Bytes after the last entry are fine only as a signature: padding to its
// alignment, then the certificate table, which ends the file.
void WarnAboutTail(Inspection& inspection) {
    const uint64_t fileSize = inspection.verdict.fileSize;
    if (inspection.dataEnd >= fileSize || SignatureInPlace(inspection)) return;
    inspection.warnings.push_back(std::to_string(fileSize - inspection.dataEnd) +
                                  " bytes after the last entry are no signature");
}

void CollectWarnings(const PackageReader& reader, Inspection& inspection) {
    const PackageVerdict& verdict = inspection.verdict;
    std::vector<std::string>& warnings = inspection.warnings;
    const ImageLayout image = ReadImageLayout(reader);
    inspection.image = image;
    if (!image.isProgram) {
        warnings.push_back("no Windows program stands before the package");
    } else if (image.imageEnd > PACKAGE_OFFSET || !ZeroFilled(reader, image.imageEnd, PACKAGE_OFFSET)) {
        warnings.push_back("the program image is not followed by zero bytes up to 0x40000");
    }
    if (!verdict.headerRead || verdict.fault == FAULT_TOO_MANY_ENTRIES || verdict.fault == FAULT_INDEX_SHORT) return;
    const int differences = MagicDifferences(verdict.header);
    if (differences > 0 && differences <= NEAR_MAGIC_DIFFERENCES) {
        warnings.push_back("the magic \"" + DisplayName(std::string(verdict.header.magic, PACKAGE_MAGIC_SIZE)) +
                           "\" differs from \"" + PACKAGE_MAGIC + "\" in " + std::to_string(differences) +
                           " byte(s): the index is read as 32-byte entries, probably by damage");
    }
    for (size_t j = 0; j < verdict.entries.size(); ++j) {
        if (verdict.entries[j].storedName.empty()) warnings.push_back("entry " + std::to_string(j) + " has an empty name");
    }
    if (verdict.listState == LIST_NO_ENTRY) {
        warnings.push_back(std::string("no list is loaded (") + ListAbsence(verdict.listState) +
                           "): the updater installs every entry unverified");
    }
    uint64_t uncovered = 0;
    const uint64_t dataEnd = DataEnd(verdict, uncovered);
    inspection.dataEnd = dataEnd;
    if (uncovered > 0) warnings.push_back(std::to_string(uncovered) + " bytes of data belong to no entry");
    WarnAboutTail(inspection);
}

std::string MagicText(const PackageVerdict& verdict) {
    return DisplayName(std::string(verdict.header.magic, PACKAGE_MAGIC_SIZE));
}

Json ChecksumOrNull(bool known, const uint8_t* checksum) {
    return known ? Json(ChecksumHex(checksum)) : Json(nullptr);
}

Json EntryJson(const PackageVerdict& verdict, const EntryVerdict& e) {
    const bool recorded = e.record >= 0;
    return Json{{"name", DisplayName(e.storedName)},
                {"installName", DisplayName(e.installName)},
                {"offset", e.offset},
                {"size", e.size},
                {"position", e.position},
                {"record", e.record},
                {"computed", ChecksumOrNull(e.checksummed, e.checksum)},
                {"expected", ChecksumOrNull(recorded, recorded ? verdict.records[e.record].checksum : nullptr)}};
}

Json ListJson(const PackageVerdict& in) {
    Json records = Json::array();
    for (const HashValueRecord& record : in.records) {
        records.push_back(Json{{"path", DisplayName(RecordPath(record))},
                               {"terminated", RecordPathTerminated(record)},
                               {"checksum", ChecksumHex(record.checksum)}});
    }
    return Json{{"entry", in.listEntry},
                {"loaded", in.listState == LIST_LOADED},
                {"note", ListAbsence(in.listState)},
                {"reserved", in.listHeader.reserved},
                {"records", records}};
}

Json SignatureJson(const Inspection& inspection) {
    if (!IsSigned(inspection)) return nullptr;
    const ImageLayout& image = inspection.image;
    return Json{{"offset", image.certificateOffset},
                {"size", image.certificateSize},
                {"last", image.certificateOffset + image.certificateSize == inspection.verdict.fileSize},
                {"afterEntries", image.certificateOffset >= inspection.dataEnd}};
}

Json DigestOrNull(const std::optional<Sha256Digest>& digest) {
    return digest ? Json(HexBytes(digest->data(), digest->size())) : Json(nullptr);
}

Json ProvenanceJson(const Provenance& provenance) {
    return Json{{"program", DigestOrNull(provenance.program)},
                {"package", DigestOrNull(provenance.package)},
                {"authenticode", DigestOrNull(provenance.authenticode)}};
}

void PrintJson(const Inspection& inspection, FILE* out) {
    const PackageVerdict& in = inspection.verdict;
    Json report{{"fileSize", in.fileSize}};
    if (in.headerRead) {
        report["magic"] = MagicText(in);
        report["count"] = in.header.count;
        report["layout"] = in.longEntries ? "long" : "short";
        report["dataBase"] = in.dataBase;
    }
    Json entries = Json::array();
    for (const EntryVerdict& entry : in.entries) entries.push_back(EntryJson(in, entry));
    report["entries"] = entries;
    report["list"] = ListJson(in);
    report["signature"] = SignatureJson(inspection);
    report["sha256"] = ProvenanceJson(inspection.provenance);
    report["problems"] = inspection.problems;
    report["warnings"] = inspection.warnings;
    report["result"] = Hex32(in.result);
    report["accepted"] = inspection.problems.empty();
    PrintJson(report, out);
}

void PrintChecks(const PackageVerdict& in, FILE* out) {
    for (size_t j = 0; j < in.entries.size(); ++j) {
        const EntryVerdict& e = in.entries[j];
        const std::string computed = e.checksummed ? ChecksumHex(e.checksum) : "unread";
        if (e.record < 0) {
            std::fprintf(out, "check %2zu   %s no record: installed unverified, computed %s\n", j,
                         PadToColumns(DisplayName(e.storedName), 24).c_str(), computed.c_str());
            continue;
        }
        const HashValueRecord& r = in.records[e.record];
        const bool equal = e.checksummed && std::memcmp(e.checksum, r.checksum, CHECKSUM_SIZE) == 0;
        std::fprintf(out, "check %2zu   %s record %d (%s), computed %s, expected %s: %s\n", j,
                     PadToColumns(DisplayName(e.storedName), 24).c_str(), e.record, DisplayName(RecordPath(r)).c_str(),
                     computed.c_str(), ChecksumHex(r.checksum).c_str(), equal ? "ok" : "DIFFERS");
    }
}

void PrintProvenance(const Provenance& provenance, FILE* out) {
    if (provenance.program) {
        std::fprintf(out, "sha256     program      %s (bytes 0 to %s)\n",
                     HexBytes(provenance.program->data(), SHA256_SIZE).c_str(), HexOffset(provenance.programEnd).c_str());
    }
    if (provenance.package) {
        std::fprintf(out, "sha256     package      %s (bytes %s to %s)\n",
                     HexBytes(provenance.package->data(), SHA256_SIZE).c_str(), HexOffset(PACKAGE_OFFSET).c_str(),
                     HexOffset(provenance.packageEnd).c_str());
    }
    if (provenance.authenticode) {
        std::fprintf(out, "sha256     authenticode %s (what a signature covers: the same signed or not)\n",
                     HexBytes(provenance.authenticode->data(), SHA256_SIZE).c_str());
    }
}

void PrintText(const Inspection& inspection, FILE* out) {
    const PackageVerdict& in = inspection.verdict;
    std::fprintf(out, "file size  %llu bytes\n", static_cast<unsigned long long>(in.fileSize));
    if (in.headerRead) {
        std::fprintf(out, "header     magic \"%s\", count %u, layout %s, dataBase %s\n", MagicText(in).c_str(),
                     in.header.count, in.longEntries ? "long (128-byte entries)" : "short (32-byte entries)",
                     Hex32(in.dataBase).c_str());
    }
    for (size_t j = 0; j < in.entries.size(); ++j) {
        const EntryVerdict& e = in.entries[j];
        std::fprintf(out, "entry %2zu   %s offset %s size %10u at %s, installed as %s\n", j,
                     PadToColumns(DisplayName(e.storedName), 24).c_str(), Hex32(e.offset).c_str(), e.size, Hex32(e.position).c_str(),
                     DisplayName(e.installName).c_str());
    }
    if (in.listState == LIST_LOADED) {
        std::fprintf(out, "list       entry %d, reserved %u, %zu records\n", in.listEntry, in.listHeader.reserved,
                     in.records.size());
    } else if (in.listState == LIST_NO_ENTRY) {
        if (!in.entries.empty() || in.fault == FAULT_NONE) std::fprintf(out, "list       absent: %s\n", ListAbsence(in.listState));
    } else {
        std::fprintf(out, "list       entry %d, damaged: %s\n", in.listEntry, ListAbsence(in.listState));
    }
    for (size_t i = 0; i < in.records.size(); ++i) {
        std::fprintf(out, "record %2zu  %s %s%s\n", i, PadToColumns(DisplayName(RecordPath(in.records[i])), 40).c_str(),
                     ChecksumHex(in.records[i].checksum).c_str(),
                     RecordPathTerminated(in.records[i]) ? "" : "  (path without terminator: never matches)");
    }
    PrintChecks(in, out);
    if (IsSigned(inspection)) {
        std::fprintf(out, "signature  certificate table at %s, %u bytes%s\n",
                     HexOffset(inspection.image.certificateOffset).c_str(),
                     inspection.image.certificateSize,
                     SignatureInPlace(inspection) ? ", after the last entry and last in the file" : "");
    } else if (inspection.image.isProgram) {
        std::fprintf(out, "signature  none: Windows names the publisher \"Unknown publisher\"\n");
    }
    PrintProvenance(inspection.provenance, out);
    for (const std::string& problem : inspection.problems) std::fprintf(out, "problem    %s\n", problem.c_str());
    std::fprintf(out, "%s\n", inspection.problems.empty() ? "accepted" : "REJECTED");
}

}  // namespace

bool InspectPatch(const std::string& path, Inspection& inspection, std::string& error, bool progress) {
    inspection = Inspection{};
    bool regular = false;
    uint64_t fileSize = 0;
    // Examined before it is opened: opening a pipe would wait for a writer.
    if (!StatFile(path, fileSize, regular) || !regular) {
        error = Quoted(path) + NotAFileBecause(path);
        return false;
    }
    File file = OpenForReading(path);
    if (!file) {
        error = Quoted(path) + ": not a readable file";
        return false;
    }
    PackageReader reader;
    PatchReading reading{file.get(), Progress{}};
    reading.progress.enabled = progress && StderrIsTerminal();
    reading.progress.total = fileSize > PACKAGE_OFFSET ? fileSize - PACKAGE_OFFSET : fileSize;
    reader.context = &reading;
    reader.fileSize = fileSize;
    reader.readAt = ReadFileAt;
    inspection.verdict = JudgePackage(reader, CP932_NAME_RULES);
    EndProgress(reading.progress);
    reading.progress.enabled = false;
    CollectProblems(inspection);
    CollectWarnings(reader, inspection);
    if (!ComputeProvenance(reader, inspection.image, inspection.dataEnd, inspection.provenance)) {
        error = Quoted(path) + ": cannot read it through";
        return false;
    }
    return true;
}

void PrintInspection(const Inspection& inspection, bool json, FILE* out) {
    if (json) {
        PrintJson(inspection, out);
    } else {
        PrintText(inspection, out);
    }
}
