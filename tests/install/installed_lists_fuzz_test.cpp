// Seeded random, truncated, oversized and empty installed lists ("KVX.hvl" and
// "uninst.lst") through the pruning, the uninstall list update and the whole
// commit pass. Nothing may be lost: the hash-value list keeps its header and
// drops only records whose files are missing; "uninst.lst" is either unchanged
// or keeps its old text with each offered name it lacks as a whole line
// appended; no other file changes and no scratch file is left. Rerun one case
// with SUNDRIFT_SEED and SUNDRIFT_CASE as printed on failure.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "install/commit_pass.h"
#include "install/installed_list.h"
#include "install/uninstall_list.h"
#include "package/portable/package_format.h"
#include "support/folder_snapshot.h"
#include "support/install_names.h"
#include "support/package_builder.h"
#include "support/reliability_tally.h"
#include "support/watched_install.h"
#include "support/win_files.h"

using namespace testing_support;

namespace {

constexpr uint32_t DEFAULT_SEED = 0x11575EED;
constexpr uint32_t CASES = 1200;
constexpr uint32_t LONG_CASES = 12000;

const char SOFT[] = "\x83\x5C";  // "ソ", trail byte 0x5C

// Files of the installed game; the lists' records and lines name these and others.
const std::vector<std::string> PRESENT = {"a.arc", "b.arc", "sub\\c.arc", std::string(SOFT) + "\\x.arc", "sub"};
const std::vector<std::string> MISSING = {"gone.arc", "sub\\gone.arc", "nosuch\\d.arc", std::string(SOFT) + ".arc"};
const std::vector<std::string> ODD = {"", "..\\outside\\a.arc", "C:\\a.arc", "\\\\host\\share\\a", "sub\\..\\a.arc",
                                      "a.arc:s", std::string(55, 'p'), "A.ARC", "sub/c.arc", "\x83"};
// Names a commit may move into place; each gets a fresh "<name>.tmp".
const std::vector<std::string> OFFERED = {"a.arc", "new.arc", "sub\\c.arc", "sub\\new.arc", "KVX.hvl", "b.arc"};

enum class Operation { Prune, UninstallList, Commit };

class ListCase {
public:
    explicit ListCase(uint32_t seed) : rng_(seed) {}

    uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }
    bool OneIn(uint32_t n) { return Below(n) == 0; }
    uint8_t Byte() { return static_cast<uint8_t>(rng_()); }

    std::string AnyPath() {
        switch (Below(3)) {
            case 0: return PRESENT[Below(static_cast<uint32_t>(PRESENT.size()))];
            case 1: return MISSING[Below(static_cast<uint32_t>(MISSING.size()))];
            default: return ODD[Below(static_cast<uint32_t>(ODD.size()))];
        }
    }

    Bytes HashValueList(std::string& shape) {
        if (OneIn(12)) return shape = "empty", Bytes();
        if (OneIn(10)) return shape = "random", RandomBytes(Below(400));
        const uint32_t records = OneIn(30) ? 18000 + Below(4000) : Below(12);  // the large ones pass 1 MiB
        Bytes list = HashValueListBytes({}, OneIn(3) ? static_cast<uint32_t>(rng_()) : 0,
                                        OneIn(5) ? "XXXXXXXX" : HASH_VALUE_MAGIC);
        for (uint32_t i = 0; i < records; ++i) {
            const size_t at = list.size();
            AppendField(list, AnyPath(), RECORD_PATH_SIZE);
            if (OneIn(15)) std::memset(&list[at], 'z', RECORD_PATH_SIZE);  // no terminator
            if (OneIn(20)) list[at + Below(RECORD_PATH_SIZE)] = Byte();
            for (size_t k = 0; k < CHECKSUM_SIZE; ++k) list.push_back(Byte());
        }
        uint32_t count = records;
        if (OneIn(4)) {
            const uint32_t counts[] = {0, records + 1, records - 1, 0x03FFFFFF, 0x04000000, 0x04000001, 0x7FFFFFFF,
                                       0xFFFFFFFF, Below(64)};
            count = counts[Below(9)];
        }
        for (int k = 0; k < 4; ++k) list[12 + k] = static_cast<uint8_t>(count >> (8 * k));
        shape = std::to_string(records) + " records, count " + std::to_string(count);
        if (OneIn(5)) {
            list.resize(Below(static_cast<uint32_t>(list.size()) + 1));
            shape += ", cut to " + std::to_string(list.size());
        } else if (OneIn(6)) {
            const Bytes tail = RandomBytes(1 + Below(100));
            list.insert(list.end(), tail.begin(), tail.end());
            shape += ", tail " + std::to_string(tail.size());
        }
        return list;
    }

    Bytes UninstallList(std::string& shape) {
        switch (Below(10)) {
            case 0: return shape = "empty", Bytes();
            case 1: return shape = "one NUL", Bytes(1, 0);
            case 2: return shape = "random", RandomBytes(Below(300));
            case 3: {  // around the working buffer's size
                const uint32_t sizes[] = {UNINSTALL_LIST_BUFFER_SIZE - 20, UNINSTALL_LIST_BUFFER_SIZE - 1,
                                          UNINSTALL_LIST_BUFFER_SIZE, UNINSTALL_LIST_BUFFER_SIZE + 1};
                Bytes big(sizes[Below(4)], 'q');
                for (size_t i = 80; i < big.size(); i += 81) big[i] = '\n';
                if (OneIn(2)) big.back() = 0;
                shape = "large " + std::to_string(big.size());
                return big;
            }
            default: break;
        }
        std::string text;
        const uint32_t lines = Below(10);
        for (uint32_t i = 0; i < lines; ++i) {
            text += OneIn(2) ? OFFERED[Below(static_cast<uint32_t>(OFFERED.size()))] : AnyPath();
            text += OneIn(3) ? "\r\n" : "\n";
        }
        if (OneIn(6) && !text.empty()) text.pop_back();  // last line without its end
        Bytes list = BytesOf(text);
        if (!OneIn(5)) list.push_back(0);
        if (OneIn(10) && !list.empty()) list[Below(static_cast<uint32_t>(list.size()))] = 0;  // a NUL inside
        if (OneIn(8)) list.resize(Below(static_cast<uint32_t>(list.size()) + 1));
        shape = std::to_string(list.size()) + " bytes";
        return list;
    }

    std::vector<std::string> Names() {
        std::vector<std::string> names;
        const uint32_t count = Below(5);
        for (uint32_t i = 0; i < count; ++i) {
            const std::string& name = OFFERED[Below(static_cast<uint32_t>(OFFERED.size()))];
            bool twice = false;
            for (const std::string& n : names) twice = twice || n == name;
            if (!twice) names.push_back(name);
        }
        return names;
    }

    DWORD Attributes() {
        if (!OneIn(6)) return FILE_ATTRIBUTE_NORMAL;
        const DWORD choices[] = {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM,
                                 FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN};
        return choices[Below(4)];
    }

private:
    Bytes RandomBytes(uint32_t size) {
        Bytes bytes(size);
        for (uint8_t& b : bytes) b = Byte();
        return bytes;
    }

    std::mt19937 rng_;
};

class InstalledLists : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = root_ / "game";
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((folder_ + "\\sub").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((folder_ + "\\" + SOFT).c_str(), nullptr));
        for (const std::string& name : PRESENT) {
            if (name == "sub") continue;
            ASSERT_TRUE(WriteWholeFile(folder_ + "\\" + name, BytesOf("old " + name)));
        }
        ASSERT_TRUE(WriteWholeFile(root_ / "parent.bin", BytesOf("beside")));
        baseline_ = TakeFolderSnapshot(root_.Path());
    }

    std::string Path(const std::string& name) const { return folder_ + "\\" + name; }

    // One case: lists written, the operation run, the promise checked. "" when kept.
    std::string RunCase(uint32_t seed, uint32_t c, ReliabilityTally& tally) {
        ListCase rng(seed ^ (c * 0x9E3779B9u));
        std::string hashShape, uninstallShape;
        const bool withHashList = !rng.OneIn(10), withUninstallList = !rng.OneIn(10);
        const Bytes hashList = rng.HashValueList(hashShape);
        const Bytes uninstallList = rng.UninstallList(uninstallShape);
        const DWORD hashAttributes = rng.Attributes(), uninstallAttributes = rng.Attributes();
        const Operation operation = static_cast<Operation>(rng.Below(3));
        const std::vector<std::string> names = rng.Names();
        const std::string label = "seed " + std::to_string(seed) + " case " + std::to_string(c) + " (op " +
                                  std::to_string(static_cast<int>(operation)) + ", KVX.hvl " +
                                  (withHashList ? hashShape : "missing") + ", uninst.lst " +
                                  (withUninstallList ? uninstallShape : "missing") + ", " +
                                  std::to_string(names.size()) + " names)";

        if (withHashList && !WriteWholeFile(Path(LIST_NAME), hashList)) return label + ": cannot write KVX.hvl";
        if (withUninstallList && !WriteWholeFile(Path(UNINSTALL_NAME), uninstallList)) return label + ": cannot write uninst.lst";
        std::vector<Bytes> fresh;
        if (operation == Operation::Commit) {
            for (const std::string& name : names) {
                fresh.push_back(BytesOf("new " + name));
                if (!WriteWholeFile(Path(name + ".tmp"), fresh.back())) return label + ": cannot stage " + name;
            }
        }
        if (withHashList) SetFileAttributesA(Path(LIST_NAME).c_str(), hashAttributes);
        if (withUninstallList) SetFileAttributesA(Path(UNINSTALL_NAME).c_str(), uninstallAttributes);
        const FolderSnapshot before = TakeFolderSnapshot(root_.Path());

        const InstallNames slots(names);
        bool listUpdated = false;
        UpdateResult result = UPDATE_OK;
        switch (operation) {
            case Operation::Prune: PruneHashValueList(folder_.c_str()); break;
            case Operation::UninstallList: listUpdated = UpdateUninstallList(folder_.c_str(), slots.Slots()); break;
            case Operation::Commit:
                result = CommitPass(folder_.c_str(), slots.Slots(), slots.Count());
                listUpdated = result == UPDATE_OK;
                break;
        }
        tally.Outcome(operation == Operation::Prune ? "prune"
                      : listUpdated                 ? "list updated"
                                                    : "list refused");
        const FolderSnapshot after = TakeFolderSnapshot(root_.Path());
        std::string problems = Check(operation, result, listUpdated, names, fresh, before, after);
        if (!problems.empty()) problems = label + ":" + problems;
        if (!RestoreFolder(root_.Path(), baseline_)) problems += " cannot restore the folder";
        return problems;
    }

    std::string Check(Operation operation, UpdateResult result, bool listUpdated, const std::vector<std::string>& names,
                      const std::vector<Bytes>& fresh, const FolderSnapshot& before, const FolderSnapshot& after) {
        std::string problems;
        const std::string hashKey = SnapshotKey(std::string("game\\") + LIST_NAME);
        const std::string uninstallKey = SnapshotKey(std::string("game\\") + UNINSTALL_NAME);
        if (operation == Operation::Commit && result != UPDATE_OK && result != UPDATE_E_UNINSTALL_LIST) {
            problems += " commit result " + std::to_string(result) + ";";
        }
        // Every other file: as before, except the names moved into place.
        FolderSnapshot expectedRest = before, rest = after;
        expectedRest.erase(hashKey), expectedRest.erase(uninstallKey), rest.erase(hashKey), rest.erase(uninstallKey);
        Bytes hashSource = before.count(hashKey) ? before.at(hashKey).bytes : Bytes();
        bool hashExisted = before.count(hashKey) != 0, hashRenamedOver = false;
        if (operation == Operation::Commit) {
            for (size_t i = 0; i < names.size(); ++i) {
                const std::string key = SnapshotKey("game\\" + names[i]);
                expectedRest.erase(SnapshotKey("game\\" + names[i] + ".tmp"));
                if (names[i] == LIST_NAME) {
                    hashSource = fresh[i], hashExisted = true, hashRenamedOver = true;
                    continue;
                }
                expectedRest[key] = SnapshotItem{"game\\" + names[i], fresh[i], 0};
                if (rest.count(key)) rest[key].attributes = 0;  // the fresh file's own
            }
        }
        if (rest != expectedRest) problems += " other files:" + DescribeDifference(expectedRest, rest) + ";";

        // The hash-value list: its source, or its source pruned only of missing files;
        // one that refuses re-creation (read-only, hidden, system) as it was.
        if (before.count(hashKey) && (before.at(hashKey).attributes & KEPT_ATTRIBUTES) && !hashRenamedOver &&
            (!after.count(hashKey) || after.at(hashKey) != before.at(hashKey))) {
            problems += " KVX.hvl with attributes " + std::to_string(before.at(hashKey).attributes) + " changed;";
        }
        if (!hashExisted) {
            if (after.count(hashKey)) problems += " KVX.hvl appeared;";
        } else if (!after.count(hashKey)) {
            problems += " KVX.hvl lost;";
        } else {
            const Bytes& now = after.at(hashKey).bytes;
            if (now != hashSource && !IsPrunedFrom(now, hashSource, folder_)) problems += " KVX.hvl lost records;";
        }

        // The uninstaller's list: unchanged, or its old bytes then offered names.
        if (!before.count(uninstallKey)) {
            if (after.count(uninstallKey)) problems += " uninst.lst appeared;";
            if (listUpdated) problems += " a missing uninst.lst reported as updated;";
        } else if (!after.count(uninstallKey)) {
            problems += " uninst.lst lost;";
        } else {
            const Bytes& old = before.at(uninstallKey).bytes;
            const Bytes& now = after.at(uninstallKey).bytes;
            if (listUpdated && (before.at(uninstallKey).attributes & KEPT_ATTRIBUTES)) {
                problems += " uninst.lst with attributes " + std::to_string(before.at(uninstallKey).attributes) +
                            " rewritten;";
            } else if (listUpdated) {
                if (!IsExtendedFor(now, old, names)) problems += " uninst.lst not extended by exactly the names it lacks;";
            } else if (after.at(uninstallKey) != before.at(uninstallKey)) {
                problems += " uninst.lst changed though its update failed;";
            }
        }
        return problems;
    }

    TempFolder root_{"lists"};
    std::string folder_;
    FolderSnapshot baseline_;
};

TEST_F(InstalledLists, RandomTruncatedOversizedAndEmptyListsLoseNothing) {
    const uint32_t seed = TestSeed(DEFAULT_SEED);
    ReliabilityTally tally("installed lists");
    RunSeededCases(tally, seed, LongRun() ? LONG_CASES : CASES, [&](uint32_t c) { return RunCase(seed, c, tally); });
}

}  // namespace
