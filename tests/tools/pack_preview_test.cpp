// The packer's preview of a run against the real updater: a seeded series of
// game folders and patches, successes and every failure the folder or the
// package can cause, each previewed and then run as the player runs it (the
// updater program with the package appended, started as a process, its
// question answered Yes). The prediction must give the program's exit code
// and the folder as the run leaves it. Rerun with the SUNDRIFT_SEED printed
// on failure.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "pack_preview.h"
#include "package/portable/package_format.h"
#include "support/folder_snapshot.h"
#include "support/host_links.h"
#include "support/installed_game.h"
#include "support/package_builder.h"
#include "support/reliability_tally.h"
#include "support/win_files.h"
#include "support/window_watch.h"
#include "ui/portable/texts.h"

using namespace testing_support;

namespace {

constexpr uint32_t DEFAULT_SEED = 0x70E71E;

// What a case sets up to go wrong; every kind comes round in turn.
enum Twist {
    TWIST_NONE,
    TWIST_MISSING_FOLDER,      // an entry goes into a folder the game lacks
    TWIST_NO_UNINSTALL_LIST,   // "uninst.lst" is missing
    TWIST_BAD_UNINSTALL_LIST,  // "uninst.lst" holds a NUL inside its text
    TWIST_TARGET_IS_FOLDER,    // a folder stands at an install name
    TWIST_TEMPORARY_BLOCKED,   // a folder stands at an entry's ".tmp" name
    TWIST_CHECKSUM,            // an entry's data differ from its record
    TWIST_TRUNCATED,           // the patch ends inside the last entry
    TWIST_TOO_MANY,            // the header counts 33 entries
    TWIST_NO_LIST,             // the package carries no list: all unverified
    TWIST_NAME_REFUSED,        // an entry is installed as a ".tmp" name
    TWIST_FOLDER_LINK,         // "bgm", where an entry goes, is a link to a folder elsewhere
    TWIST_LIST_HARD_LINK,      // "uninst.lst" has a second name outside the game
    TWIST_LIST_SCRATCH,        // a folder stands at "uninst.lst.tmp"
    TWIST_NESTED_NAME,         // a new "op.ogg" where "uninst.lst" lists "bgm\op.ogg"
    TWIST_DAMAGED_LIST,        // the package's list counts more records than its entry holds
    TWIST_UNUSABLE_NAME,       // an entry is installed as "new?.arc", a name Windows refuses
    TWIST_COUNT
};
constexpr int CASES = 3 * TWIST_COUNT;

struct Case {
    std::vector<TestEntry> entries;  // as packed, the list first unless TWIST_NO_LIST
    Bytes patch;
};

std::string Describe(uint32_t seed, int index, Twist twist) {
    return "case " + std::to_string(index) + " (twist " + std::to_string(twist) + ", SUNDRIFT_SEED=" +
           std::to_string(seed) + ")";
}

// The installed game: a few archives, a folder, the list with a record of a
// file that is gone, and the uninstaller's list. Links go beside the game.
void InstallTwistedGame(const std::string& game, Twist twist, std::mt19937& random, std::vector<TestRecord>& records,
                        HostLinks& links) {
    CreateDirectoryA(game.c_str(), nullptr);
    if (twist == TWIST_FOLDER_LINK) {
        CreateDirectoryA((game + "-bgm").c_str(), nullptr);
        EXPECT_TRUE(links.Symbolic(game + "-bgm", game + "\\bgm")) << links.Why();
    } else {
        CreateDirectoryA((game + "\\bgm").c_str(), nullptr);
    }
    std::vector<TestEntry> files;
    for (const char* name : {"data1.arc", "data2.arc", "bgm\\op.ogg"}) {
        files.push_back({name, GeneratedBytes(100 + random() % 3000, random())});
    }
    std::string uninstall = "KVX.hvl\ndata1.arc\ndata2.arc\nbgm\\op.ogg\n";
    if (twist == TWIST_BAD_UNINSTALL_LIST) uninstall.insert(4, 1, '\0');
    EXPECT_TRUE(InstallGame(game, files, uninstall, &records));
    if (twist == TWIST_NO_UNINSTALL_LIST) DeleteFileA((game + "\\uninst.lst").c_str());
    if (twist == TWIST_TARGET_IS_FOLDER) CreateDirectoryA((game + "\\new.arc").c_str(), nullptr);
    if (twist == TWIST_TEMPORARY_BLOCKED) CreateDirectoryA((game + "\\data2.arc.tmp").c_str(), nullptr);
    if (twist == TWIST_LIST_HARD_LINK) {
        EXPECT_TRUE(links.Hard(game + "\\uninst.lst", game + "-uninst.lst")) << links.Why();
    }
    if (twist == TWIST_LIST_SCRATCH) CreateDirectoryA((game + "\\uninst.lst.tmp").c_str(), nullptr);
}

// A patch of two to four files over that game, with its list based on the game's.
Case MakePatch(Twist twist, const Bytes& updater, std::mt19937& random, std::vector<TestRecord> records) {
    std::vector<std::string> paths = {"data1.arc", "new.arc", "data2.arc", "bgm\\ed.ogg"};
    if (twist == TWIST_MISSING_FOLDER) paths[3] = "movie\\op.mpg";
    if (twist == TWIST_NAME_REFUSED) paths[1] = "notes.tmp";
    if (twist == TWIST_NESTED_NAME) {
        paths[1] = "op.ogg";
        // Its record must not be the first one ending in "op.ogg".
        records.erase(std::remove_if(records.begin(), records.end(),
                                     [](const TestRecord& r) { return r.path == "bgm\\op.ogg"; }),
                      records.end());
    }
    if (twist == TWIST_UNUSABLE_NAME) paths[1] = "new?.arc";
    const bool allFour = twist == TWIST_TARGET_IS_FOLDER || twist == TWIST_TEMPORARY_BLOCKED || twist == TWIST_FOLDER_LINK;
    const size_t files = allFour ? 4 : 2 + random() % 3;
    Case made;
    for (size_t i = 0; i < files; ++i) {
        const std::string& path = paths[i];
        const Bytes data = GeneratedBytes(random() % 5000, random());
        made.entries.push_back({path.substr(path.find_last_of('\\') + 1), data});
        Bytes checksum = ChecksumOf(data);
        if (twist == TWIST_CHECKSUM && i == files - 1) checksum[0] ^= 1;
        bool listed = false;
        for (TestRecord& record : records) {
            if (record.path == path) record.checksum = checksum, listed = true;
        }
        if (!listed) records.push_back({path, checksum});
    }
    if (twist != TWIST_NO_LIST) made.entries.insert(made.entries.begin(), {"KVX.hvl", HashValueListBytes(records)});
    made.patch = PatchBytes(PackageBytes(made.entries, true, twist == TWIST_TOO_MANY ? 33 : UINT32_MAX), updater);
    if (twist == TWIST_TRUNCATED) made.patch.resize(made.patch.size() - 1 - random() % 3);
    if (twist == TWIST_DAMAGED_LIST) {
        // One record more than its entry holds: the next entry's bytes would be the last.
        const size_t count = PACKAGE_OFFSET + sizeof(PackageHeader) + made.entries.size() * sizeof(LongIndexEntry) + 12;
        made.patch[count] = static_cast<uint8_t>(made.patch[count] + 1);
    }
    return made;
}

std::map<std::string, Bytes> Contents(const FolderSnapshot& snapshot) {
    std::map<std::string, Bytes> contents;
    for (const auto& item : snapshot) contents[item.first] = item.second.bytes;
    return contents;
}

// The folder as the preview says the run leaves it.
std::map<std::string, Bytes> Predicted(const FolderSnapshot& before, const Case& made, const Preview& preview) {
    std::map<std::string, Bytes> expected = Contents(before);
    for (size_t j = 0; j < preview.entries.size(); ++j) {
        if (preview.entries[j].installed) expected[SnapshotKey(preview.entries[j].installName)] = made.entries[j].data;
    }
    if (preview.listRewritten) expected[SnapshotKey("KVX.hvl")] = preview.listAfter;
    if (preview.uninstallRewritten) expected[SnapshotKey("uninst.lst")] = preview.uninstallAfter;
    return expected;
}

// The names whose content differs, for the failure message.
std::string Differences(const std::map<std::string, Bytes>& actual, const std::map<std::string, Bytes>& expected) {
    std::string text;
    for (const auto& item : expected) {
        const auto found = actual.find(item.first);
        if (found == actual.end() || found->second != item.second) text += " " + item.first;
    }
    for (const auto& item : actual) {
        if (!expected.count(item.first)) text += " unexpected:" + item.first;
    }
    return text;
}

// The updater started on `patch`: consent given, every later box acknowledged.
DWORD RunUpdater(const std::string& patch) {
    const e2e::RunRecord run = e2e::RunProgram(patch, [](const e2e::SeenWindow& window) {
        if (window.kind != e2e::WindowKind::MessageBox) return e2e::Reply::Wait;
        return window.text == TEXT_CONSENT ? e2e::Reply::Yes : e2e::Reply::Ok;
    });
    return run.finished ? run.exitCode : 0xFFFFFFFF;
}

// What the player must get for the twists that once went wrong in both the
// updater and its preview alike.
void ExpectTwistPredicted(Twist twist, const Preview& preview, const std::string& what) {
    const std::vector<std::string>& appended = preview.appendedLines;
    switch (twist) {
        case TWIST_NESTED_NAME:
            EXPECT_EQ(preview.result, UPDATE_OK) << what;
            EXPECT_EQ(std::count(appended.begin(), appended.end(), "op.ogg"), 1) << what << ": a line of its own";
            break;
        case TWIST_DAMAGED_LIST:
            EXPECT_EQ(preview.result, UPDATE_E_CORRUPT) << what << ": verification is never switched off";
            break;
        case TWIST_UNUSABLE_NAME:
            EXPECT_EQ(preview.result, UPDATE_E_IO) << what;
            EXPECT_EQ(preview.failedEntry, 2) << what;
            break;
        default: break;
    }
}

TEST(PackPreview, PredictsTheUpdatersExitCodeAndTheFolderItLeaves) {
    const uint32_t seed = TestSeed(DEFAULT_SEED);
    std::mt19937 random(seed);
    const Bytes updater = ReadWholeFile(BinFolder() + "\\sundrift-updater.exe");
    ASSERT_FALSE(updater.empty());
    ASSERT_LE(updater.size(), PACKAGE_OFFSET);
    std::set<UpdateResult> seen;
    for (int index = 0; index < CASES; ++index) {
        const Twist twist = static_cast<Twist>(index % TWIST_COUNT);
        TempFolder root("preview");
        const std::string game = root / "game", patch = root / "patch.exe";
        std::vector<TestRecord> records;
        HostLinks links;
        InstallTwistedGame(game, twist, random, records, links);
        const Case made = MakePatch(twist, updater, random, records);
        ASSERT_TRUE(WriteWholeFile(patch, made.patch));
        ASSERT_TRUE(RegisterInstallFolder(game));
        const FolderSnapshot before = TakeFolderSnapshot(game);

        Preview preview;
        std::string error;
        ASSERT_TRUE(PreviewPatch(patch, game, preview, error)) << error;
        const DWORD exitCode = RunUpdater(patch);
        seen.insert(preview.result);

        const std::string what = Describe(seed, index, twist);
        EXPECT_EQ(PreviewExitCode(preview), exitCode) << what << ": " << preview.failure;
        EXPECT_EQ(static_cast<DWORD>(preview.result), exitCode) << what;
        const std::map<std::string, Bytes> after = Contents(TakeFolderSnapshot(game)),
                                           predicted = Predicted(before, made, preview);
        EXPECT_TRUE(after == predicted) << what << ", differing:" << Differences(after, predicted);
        ExpectTwistPredicted(twist, preview, what);
    }
    UnregisterGame();
    const std::set<UpdateResult> every = {UPDATE_OK, UPDATE_E_CORRUPT, UPDATE_E_TOO_MANY_ENTRIES, UPDATE_E_IO,
                                          UPDATE_E_UNINSTALL_LIST};
    EXPECT_EQ(seen, every) << "the series must reach every result";
}

}  // namespace
