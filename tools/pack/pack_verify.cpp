#include "pack_verify.h"

#include <cstring>

#include "install/portable/record_probe.h"
#include "pack_build.h"
#include "pack_files.h"
#include "pack_json.h"
#include "pack_list.h"
#include "pack_text.h"
#include "pack_tree.h"
#include "package/portable/multibyte_walk.h"
#include "package/portable/record_lookup.h"
#include "package/portable/running_checksum.h"

namespace {

// Reads the installed list whole: its header, which must start with the
// magic, then as many records as it counts; bytes after them are ignored.
bool ReadInstalledList(const std::string& path, std::vector<HashValueRecord>& records, std::string& error) {
    ByteVector bytes;
    uint64_t size = 0;
    HashValueHeader header;
    std::string why;
    size_t trailing = 0;
    if (ReadSmallFile(path, PATCH_SIZE_LIMIT, bytes, size) != SmallFile::READ) {
        error = "\"" + path + "\": cannot read it";
        return false;
    }
    if (!ParseList(bytes, MAGIC_TESTED, header, records, trailing, why)) {
        error = "\"" + path + "\" " + why;
        return false;
    }
    return true;
}

// Streams one file through the checksum, counting its bytes as progress.
bool ChecksumWithProgress(const std::string& path, uint8_t checksum[CHECKSUM_SIZE], Progress& progress) {
    File file = OpenForReading(path);
    if (!file) return false;
    ByteVector buffer(COPY_CHUNK_SIZE);
    auto readChunk = [&](uint8_t* chunk, size_t capacity, size_t& got) {
        got = std::fread(chunk, 1, capacity, file.get());
        AdvanceProgress(progress, got);
        return !std::ferror(file.get());
    };
    return ChecksumChunks(readChunk, buffer.data(), buffer.size(), checksum);
}

void Check(const std::string& gameDir, const HashValueRecord& record, VerifiedRecord& out, Progress& progress) {
    const std::string stored = RecordPath(record);
    out.path = DisplayName(stored);
    std::memcpy(out.expected, record.checksum, CHECKSUM_SIZE);
    std::string utf8, host;
    if (!RecordPathTerminated(record) || !Cp932ToUtf8(stored, utf8)) {
        out.state = RecordState::UNREADABLE;
        out.note = RecordPathTerminated(record) ? "the path is not Shift-JIS" : "the path has no terminator";
        return;
    }
    if (!RecordIsProbed(record, IsCp932LeadByte)) {
        out.state = RecordState::UNREADABLE;
        out.note = "the path leaves the game folder; not read";
        return;
    }
    const Found found = FindInFolder(gameDir, utf8, host);
    if (found == Found::NOTHING) {
        out.state = RecordState::MISSING;
        return;
    }
    if (found == Found::UNKNOWN) {
        out.state = RecordState::UNREADABLE;
        out.note = "what stands there cannot be examined";
        return;
    }
    if (found != Found::FILE) {
        out.state = RecordState::DIFFERS;
        out.note = found == Found::FOLDER ? "a folder stands there" : "no plain file stands there";
        return;
    }
    if (!ChecksumWithProgress(host, out.actual, progress)) {
        out.state = RecordState::UNREADABLE;
        out.note = "the file cannot be read";
        return;
    }
    out.checksummed = true;
    const bool equal = std::memcmp(out.actual, out.expected, CHECKSUM_SIZE) == 0;
    out.state = equal ? RecordState::MATCHES : RecordState::DIFFERS;
    if (!equal) out.note = "checksum " + ChecksumHex(out.actual) + ", the record says " + ChecksumHex(out.expected);
}

uint64_t PresentBytes(const std::string& gameDir, const std::vector<HashValueRecord>& records) {
    uint64_t total = 0;
    for (const HashValueRecord& record : records) {
        std::string utf8, host;
        uint64_t size = 0;
        bool regular = false;
        if (RecordIsProbed(record, IsCp932LeadByte) && Cp932ToUtf8(RecordPath(record), utf8) &&
            FindInFolder(gameDir, utf8, host) == Found::FILE && StatFile(host, size, regular)) {
            total += size;
        }
    }
    return total;
}

const char* StateName(RecordState state) {
    switch (state) {
        case RecordState::MATCHES: return "matches";
        case RecordState::DIFFERS: return "differs";
        case RecordState::MISSING: return "missing";
        case RecordState::UNREADABLE: return "unreadable";
    }
    return "";
}

Json RecordJson(const VerifiedRecord& r) {
    return Json{{"path", r.path},
                {"state", StateName(r.state)},
                {"expected", ChecksumHex(r.expected)},
                {"actual", r.checksummed ? Json(ChecksumHex(r.actual)) : Json(nullptr)},
                {"note", r.note}};
}

void PrintJson(const Verification& v, bool strict, FILE* out) {
    Json records = Json::array();
    for (const VerifiedRecord& record : v.records) records.push_back(RecordJson(record));
    PrintJson(Json{{"list", v.listPath},
                   {"records", records},
                   {"matching", v.matching},
                   {"differing", v.differing},
                   {"missing", v.missing},
                   {"unreadable", v.unreadable},
                   {"strict", strict},
                   {"passed", VerificationPassed(v, strict)}},
              out);
}

void PrintText(const Verification& v, bool strict, FILE* out) {
    for (const VerifiedRecord& r : v.records) {
        if (r.state == RecordState::MATCHES) continue;
        std::fprintf(out, "%-10s %s%s%s\n", StateName(r.state), r.path.c_str(), r.note.empty() ? "" : ": ",
                     r.note.c_str());
    }
    std::fprintf(out, "summary    %zu records: %zu match, %zu differ, %zu missing, %zu unreadable: %s\n",
                 v.records.size(), v.matching, v.differing, v.missing, v.unreadable,
                 VerificationPassed(v, strict) ? "passed" : "FAILED");
}

}  // namespace

bool VerifyGame(const std::string& gameDir, bool progress, Verification& verification, std::string& error) {
    verification = Verification{};
    std::string root;
    if (FindInFolder(gameDir, "", root) != Found::FOLDER) {
        error = Quoted(gameDir) + " is not a folder";
        return false;
    }
    const Found list = FindInFolder(gameDir, INSTALLED_LIST_NAME, verification.listPath);
    if (list == Found::NOTHING) {
        error = Quoted(gameDir) + " has no " + INSTALLED_LIST_NAME;
        return false;
    }
    if (list != Found::FILE) {
        error = Quoted(gameDir) + " has a " + INSTALLED_LIST_NAME + " that is no plain file";
        return false;
    }
    std::vector<HashValueRecord> records;
    if (!ReadInstalledList(verification.listPath, records, error)) return false;
    Progress shown;
    shown.enabled = progress && StderrIsTerminal();
    if (shown.enabled) shown.total = PresentBytes(gameDir, records);
    for (const HashValueRecord& record : records) {
        VerifiedRecord checked;
        Check(gameDir, record, checked, shown);
        verification.records.push_back(checked);
        size_t* counter[] = {&verification.matching, &verification.differing, &verification.missing,
                             &verification.unreadable};
        ++*counter[static_cast<int>(checked.state)];
    }
    EndProgress(shown);
    return true;
}

bool VerificationPassed(const Verification& v, bool strict) {
    return v.differing == 0 && v.unreadable == 0 && (!strict || v.missing == 0);
}

void PrintVerification(const Verification& verification, bool json, bool strict, FILE* out) {
    if (json) {
        PrintJson(verification, strict, out);
    } else {
        PrintText(verification, strict, out);
    }
}
