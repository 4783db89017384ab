// The one definition of the package that the update run and the packer share:
// its layout arithmetic, the rules for install names, and the verdict on
// packages built in memory. Runs natively and under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "package/portable/hash_value_bytes.h"
#include "package/portable/install_names.h"
#include "package/portable/package_layout.h"
#include "package/portable/package_verdict.h"
#include "support/package_builder.h"

using namespace testing_support;

namespace {

const std::string SO = "\x83\x5C";   // "ソ": its trail byte is the code of "\"
const std::string HYO = "\x95\x5C";  // "表", the same
constexpr uint64_t FOUR_GIB = 0x100000000ull;

// ASCII letters lowered, every other byte kept: enough for these names.
bool AsciiLoweredCopy(const char* name, char* out, size_t outSize) {
    const size_t length = std::strlen(name);
    out[0] = '\0';
    if (length >= outSize) return false;
    for (size_t i = 0; i <= length; ++i) out[i] = name[i] >= 'A' && name[i] <= 'Z' ? name[i] - 'A' + 'a' : name[i];
    return true;
}
const NameRules RULES = {IsCp932LeadByte, AsciiLoweredCopy};

InstallNameFault Check(const std::string& name) { return CheckInstallName(name.c_str(), IsCp932LeadByte); }

void ExpectFault(InstallNameFault fault, const std::vector<std::string>& names) {
    for (const std::string& name : names) EXPECT_EQ(Check(name), fault) << name;
}

TEST(InstallNames, ContainedNamesAreAccepted) {
    ExpectFault(NAME_ACCEPTED, {"a.arc", "sub\\a.arc", "sub/a.arc", "a\\b\\c.arc", "..a", ".hidden", "a.tmpx",
                                "tmp", "a .arc", SO + ".arc", SO + "\\" + HYO + ".arc", HYO, "sub\\" + SO,
                                "COM0", "COM10", "LPT", "console", "nul2.arc", "auxx", "a.nul", SO + "CON"});
}

TEST(InstallNames, NamesThatLeaveTheFolder) {
    // The trail byte 0x5C of "ソ" never separates, a real separator after it does.
    ExpectFault(NAME_LEAVES_FOLDER, {"", "\\a.arc", "/a.arc", "\\\\server\\share\\a.arc", "//server/share/a.arc",
                                     "C:\\a.arc", "C:a.arc", "..", "..\\a.arc", "../a.arc", "sub\\..\\..\\a.arc",
                                     "sub\\..", ".", ".\\a.arc", "sub\\\\a.arc", "sub\\", "a.arc:stream",
                                     SO + "\\..\\a.arc", "nul\\..\\a.arc"});
}

TEST(InstallNames, DeviceNamesInAnyComponentCaseOrExtension) {
    ExpectFault(NAME_DEVICE, {"CON", "con", "Prn", "aux", "NUL", "nul.arc", "NUL.tar.gz", "COM1", "com9.dat",
                              "COM1.dat", "LPT1", "lpt9.txt", "sub\\nul.arc", "con\\a.arc", "Con .arc"});
}

TEST(InstallNames, TemporaryAlteredAndUnusableNames) {
    ExpectFault(NAME_TEMPORARY, {"a.arc.tmp", "A.ARC.TMP", ".tmp", "sub\\x.Tmp", SO + ".tmp", "notes.tmp"});
    ExpectFault(NAME_ALTERED, {"a.arc.", "a.arc ", "a.arc.tmp.", "sub.\\a.arc", "sub \\a.arc", "sub./a.arc", "a..", SO + ".."});
    // Characters Windows refuses are no rule of the package: the file system refuses them later.
    const std::vector<std::string> unusable = {"a<b", "a>b", "a\"b", "a|b", "a?.arc", "*.arc", "a\x01.arc", "sub\\\x1F"};
    ExpectFault(NAME_ACCEPTED, unusable);
    for (const std::string& name : unusable) EXPECT_TRUE(HoldsUnusableCharacter(name.c_str(), IsCp932LeadByte)) << name;
    ExpectFault(NAME_ALTERED, {"a?.arc.", "a|b\\c "});
    ExpectFault(NAME_LEAVES_FOLDER, {"..\\a?.arc", "a?:b"});
    // "ポ" is 83 7C: its trail byte is the code of "|", and no character of its own.
    EXPECT_FALSE(HoldsUnusableCharacter("\x83\x7C.arc", IsCp932LeadByte));
    EXPECT_FALSE(HoldsUnusableCharacter("sub\\a.arc", IsCp932LeadByte));
}

TEST(InstallNames, DuplicatesIgnoreCaseAndSeparators) {
    const char* earlier[] = {"a.arc.tmp", "sub\\a.ARC", "b.arc"};
    int same = -1;
    EXPECT_EQ(JudgeInstallName("Sub/A.arc", earlier, 3, RULES, same), NAME_DUPLICATE);
    EXPECT_EQ(same, 1);
    EXPECT_EQ(JudgeInstallName("a.arc", earlier, 3, RULES, same), NAME_ACCEPTED) << "another folder, another file";
    EXPECT_EQ(same, -1);
    EXPECT_EQ(JudgeInstallName("b.arc", earlier, 2, RULES, same), NAME_ACCEPTED) << "only earlier entries count";
    EXPECT_EQ(JudgeInstallName("nul", earlier, 3, RULES, same), NAME_DEVICE);
    EXPECT_EQ(JudgeInstallName("a\x83", earlier, 3, RULES, same), NAME_NOT_TEXT) << "a lead byte cut short";
}

TEST(PackageLayout, ArithmeticOfBothLayouts) {
    EXPECT_EQ(DataBaseOf(0, true), 0x40010u);
    EXPECT_EQ(DataBaseOf(6, true), 0x40310u);
    EXPECT_EQ(DataBaseOf(6, false), 0x400D0u);
    EXPECT_EQ(EntryPositionOf(0x40010, 0xFFFBFFF0u), 0u) << "wraps in 32 bits as the run adds";
    EXPECT_TRUE(PositionReachable(0x7FFFFFFF));
    EXPECT_FALSE(PositionReachable(0x80000000u));
    EXPECT_TRUE(DataInFile(0x7FFFFFFF, 0, 10)) << "nothing is read of an empty entry";
    EXPECT_FALSE(DataInFile(0x7FFFFFF0, 0x20, 0x80000000u));
    EXPECT_TRUE(DataInFile(0x7FFFFFF0, 0xFFFFFFFFu, FOUR_GIB * 2)) << "data may run beyond 4 GiB";
}

// The one reading of a list's bytes, each verdict once; the package's list
// is judged against its entry's size and the whole file, 4 GiB and more.
TEST(ListReading, EachWayAListIsShortOrDamaged) {
    const uint64_t listEnd = 16 + 35 * 64;
    const uint32_t overflowing = 0x04000000;  // 16 + count * 64 exceeds 32 bits
    struct Case {
        uint32_t count;
        const char* magic;
        uint64_t available, room;
        MagicTest test;
        ListState state;
    } cases[] = {
        {35, "KHV_____", 15, listEnd, MAGIC_TESTED, LIST_HEADER_SHORT},
        {35, "KHV_____", 15, listEnd, MAGIC_IGNORED, LIST_HEADER_SHORT},
        {35, "KHV____-", listEnd, listEnd, MAGIC_TESTED, LIST_WRONG_MAGIC},
        {35, "KHV____-", listEnd, listEnd, MAGIC_IGNORED, LIST_LOADED},
        {overflowing, "KHV_____", FOUR_GIB * 4, UINT64_MAX, MAGIC_TESTED, LIST_COUNT_OVERFLOW},
        {35, "KHV_____", FOUR_GIB, listEnd - 1, MAGIC_TESTED, LIST_RECORDS_PAST_ENTRY},
        {35, "KHV_____", listEnd - 1, listEnd, MAGIC_TESTED, LIST_RECORDS_PAST_END},
        {35, "KHV_____", listEnd, listEnd, MAGIC_TESTED, LIST_LOADED},
        {35, "KHV_____", FOUR_GIB + 0x100, listEnd, MAGIC_TESTED, LIST_LOADED},
        {0, "KHV_____", 16, 16, MAGIC_TESTED, LIST_LOADED},
    };
    for (const Case& c : cases) {
        Bytes head = HashValueListBytes({}, 0, c.magic);
        std::memcpy(&head[12], &c.count, 4);
        HashValueHeader header{};
        EXPECT_EQ(ReadListHeader(head.data(), c.available, c.room, c.test, header), c.state)
            << c.count << " records, " << c.available << " bytes, room " << c.room;
        if (c.state != LIST_HEADER_SHORT) {
            EXPECT_EQ(header.count, c.count);
        }
    }
    const Bytes cut = HashValueListBytes({{"a.arc", Bytes(8, 1)}, {"b.arc", Bytes(8, 2)}});
    HashValueHeader header{};
    EXPECT_EQ(ReadListFileHeader(cut.data(), cut.size() - 1, MAGIC_IGNORED, header), LIST_RECORDS_PAST_END)
        << "a file of its own is its own room";
    EXPECT_EQ(ReadListFileHeader(cut.data(), cut.size(), MAGIC_IGNORED, header), LIST_LOADED);
    EXPECT_EQ(RecordBytes(header.count), 128u);
}

// A patch in memory; bytes beyond it up to `size` read as zeros, as in a sparse file.
struct MemoryPatch {
    Bytes bytes;
    uint64_t size = 0;
};

bool ReadMemory(void* context, uint64_t position, void* buffer, uint32_t length) {
    const MemoryPatch& patch = *static_cast<const MemoryPatch*>(context);
    std::memset(buffer, 0, length);
    if (position < patch.bytes.size()) {
        const uint64_t available = patch.bytes.size() - position;
        std::memcpy(buffer, patch.bytes.data() + position, static_cast<size_t>(available < length ? available : length));
    }
    return position + length <= patch.size;
}

PackageVerdict Judge(const Bytes& bytes, uint64_t size = 0) {
    MemoryPatch patch{bytes, size ? size : bytes.size()};
    PackageReader reader;
    reader.context = &patch;
    reader.fileSize = patch.size;
    reader.readAt = ReadMemory;
    return JudgePackage(reader, RULES);
}

const Bytes DATA_A = GeneratedBytes(3000, 1), DATA_B = GeneratedBytes(70, 2);

// The list first, a.arc covered by a record with a folder, b.arc by none.
std::vector<TestEntry> Entries(const std::string& recordPath = "sub\\A.arc", const std::string& bName = "b.arc") {
    return {{"KVX.hvl", HashValueListBytes({{recordPath, ChecksumOf(DATA_A)}})}, {"a.arc", DATA_A}, {bName, DATA_B}};
}

Bytes Patch(const std::vector<TestEntry>& entries, bool longEntries = true) {
    return PatchBytes(PackageBytes(entries, longEntries));
}

void ExpectEntryFault(const Bytes& patch, int entry, PackageFault fault, InstallNameFault nameFault = NAME_ACCEPTED) {
    const PackageVerdict verdict = Judge(patch);
    EXPECT_EQ(verdict.result, UPDATE_E_CORRUPT);
    EXPECT_EQ(verdict.fault, fault);
    EXPECT_EQ(verdict.faultEntry, entry);
    if (entry >= 0 && static_cast<size_t>(entry) < verdict.entries.size()) {
        EXPECT_EQ(verdict.entries[entry].nameFault, nameFault);
    }
}

TEST(PackageVerdict, AcceptedPackageGivesInstallNamesAndChecksums) {
    for (bool longEntries : {true, false}) {
        const PackageVerdict verdict = Judge(Patch(Entries(), longEntries));
        EXPECT_EQ(verdict.result, UPDATE_OK);
        EXPECT_EQ(verdict.longEntries, longEntries);
        EXPECT_EQ(verdict.dataBase, DataBaseOf(3, longEntries));
        ASSERT_EQ(verdict.entries.size(), 3u);
        EXPECT_EQ(verdict.listEntry, 0);
        EXPECT_EQ(verdict.listState, LIST_LOADED);
        EXPECT_EQ(verdict.entries[0].installName, "KVX.hvl");
        EXPECT_EQ(verdict.entries[1].installName, "sub\\A.arc");
        EXPECT_EQ(verdict.entries[1].record, 0);
        EXPECT_EQ(verdict.entries[2].installName, "b.arc");
        EXPECT_EQ(Bytes(verdict.entries[2].checksum, verdict.entries[2].checksum + 8), ChecksumOf(DATA_B));
    }
}

TEST(PackageVerdict, HeaderAndIndexFaults) {
    const Bytes good = Patch(Entries());
    ExpectEntryFault(Bytes(good.begin(), good.begin() + PACKAGE_OFFSET + 15), -1, FAULT_FILE_TOO_SHORT);
    ExpectEntryFault(Bytes(good.begin(), good.begin() + PACKAGE_OFFSET + 16 + 200), -1, FAULT_INDEX_SHORT);
    Bytes unterminated = good;
    std::memset(&unterminated[PACKAGE_OFFSET + 16 + 128], 'n', LONG_NAME_SIZE);
    ExpectEntryFault(unterminated, 1, FAULT_NAME_UNTERMINATED);
    Bytes tooMany = good;
    tooMany[PACKAGE_OFFSET + 12] = 33;
    EXPECT_EQ(Judge(tooMany).result, UPDATE_E_TOO_MANY_ENTRIES);
}

TEST(PackageVerdict, EntryFaultsInTheRunsOrder) {
    // A record path that leaves the folder, with a matching checksum; a
    // ".tmp" name; a device; one file named twice.
    ExpectEntryFault(Patch(Entries("..\\a.arc")), 1, FAULT_INSTALL_NAME, NAME_LEAVES_FOLDER);
    ExpectEntryFault(Patch(Entries("sub\\A.arc", "notes.tmp")), 2, FAULT_INSTALL_NAME, NAME_TEMPORARY);
    ExpectEntryFault(Patch(Entries("sub\\A.arc", "nul.arc")), 2, FAULT_INSTALL_NAME, NAME_DEVICE);
    ExpectEntryFault(Patch(Entries("sub\\A.arc", "kvx.HVL")), 2, FAULT_INSTALL_NAME, NAME_DUPLICATE);

    Bytes mismatch = Patch(Entries());
    mismatch[mismatch.size() - DATA_B.size() - 1] ^= 1;  // the last byte of a.arc
    ExpectEntryFault(mismatch, 1, FAULT_CHECKSUM);
    const Bytes good = Patch(Entries());
    ExpectEntryFault(Bytes(good.begin(), good.end() - 1), 2, FAULT_DATA_SHORT);

    Bytes unreachable = good;
    const size_t offsetOfB = PACKAGE_OFFSET + 16 + 2 * 128 + LONG_NAME_SIZE;
    PutU32(unreachable, offsetOfB, 0x80000000u);
    ExpectEntryFault(unreachable, 2, FAULT_OUT_OF_REACH);
}

// The run loads the list before any entry: once found it must load whole from
// its entry, or the package is damaged, whatever the entries hold.
TEST(PackageVerdict, ADamagedListIsTheFirstFault) {
    const Bytes list = HashValueListBytes({{"sub\\A.arc", ChecksumOf(DATA_A)}});
    Bytes wrongMagic = list, pastTheEntry = list;
    wrongMagic[0] = 'k';
    pastTheEntry[12] = 2;  // the second record would be a.arc's first bytes
    const Bytes shortHeader(list.begin(), list.begin() + 10);
    const std::vector<std::pair<Bytes, ListState>> cases = {
        {wrongMagic, LIST_WRONG_MAGIC}, {pastTheEntry, LIST_RECORDS_PAST_ENTRY}, {shortHeader, LIST_RECORDS_PAST_ENTRY}};
    for (const auto& c : cases) {
        const PackageVerdict verdict = Judge(Patch({{"a.arc", DATA_A}, {"KVX.hvl", c.first}, {"..\\b.arc", DATA_B}}));
        EXPECT_EQ(verdict.result, UPDATE_E_CORRUPT) << c.second;
        EXPECT_EQ(verdict.fault, FAULT_LIST_DAMAGED) << c.second;
        EXPECT_EQ(verdict.faultEntry, 1) << c.second;
        EXPECT_EQ(verdict.listState, c.second);
        EXPECT_TRUE(verdict.records.empty());
    }
    Bytes cut = Patch({{"a.arc", DATA_A}, {"KVX.hvl", list}});
    cut.resize(cut.size() - 1);
    EXPECT_EQ(Judge(cut).listState, LIST_RECORDS_PAST_END);
    EXPECT_EQ(Judge(cut).fault, FAULT_LIST_DAMAGED);
}

// A name Windows refuses is met when its file is to be made: an I/O failure,
// after the package's own faults of the entries before.
TEST(PackageVerdict, ANameNoFileMayHoldIsAnIoFailure) {
    const PackageVerdict verdict = Judge(Patch(Entries("sub\\A.arc", "b?.arc")));
    EXPECT_EQ(verdict.result, UPDATE_E_IO);
    EXPECT_EQ(verdict.fault, FAULT_NAME_UNCREATABLE);
    EXPECT_EQ(verdict.faultEntry, 2);
    EXPECT_EQ(verdict.entries[2].nameFault, NAME_ACCEPTED);
    ExpectEntryFault(Patch(Entries("..\\A.arc", "b?.arc")), 1, FAULT_INSTALL_NAME, NAME_LEAVES_FOLDER);
    ExpectEntryFault(Patch(Entries("sub\\A.arc", "b?.arc.")), 2, FAULT_INSTALL_NAME, NAME_ALTERED);
}

TEST(PackageVerdict, EmptyEntryBeyondTheEndIsTaken) {
    Bytes patch = Patch({{"a.arc", DATA_A}, {"empty.bin", {}}});
    const size_t offsetOfEmpty = PACKAGE_OFFSET + 16 + 128 + LONG_NAME_SIZE;
    PutU32(patch, offsetOfEmpty, 0x100000);
    const PackageVerdict verdict = Judge(patch);
    EXPECT_EQ(verdict.result, UPDATE_OK) << "the run reads nothing of it";
    EXPECT_EQ(verdict.listState, LIST_NO_ENTRY);
}

TEST(PackageVerdict, ImageOfFourGibibytesKeepsItsList) {
    Bytes mismatch = Patch(Entries());
    mismatch[mismatch.size() - DATA_B.size() - 1] ^= 1;
    for (uint64_t extra : {uint64_t{0x100}, uint64_t{PACKAGE_OFFSET + 0x200}}) {
        const PackageVerdict large = Judge(Patch(Entries()), FOUR_GIB + extra);
        EXPECT_EQ(large.listState, LIST_LOADED) << extra;
        EXPECT_EQ(large.result, UPDATE_OK);
        EXPECT_EQ(Judge(mismatch, FOUR_GIB + extra).fault, FAULT_CHECKSUM) << "still verified";
    }
}

}  // namespace
