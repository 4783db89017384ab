// The packer's diff of two versions of a game: what goes into the patch, under
// which paths, and what it refuses.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "pack_build.h"
#include "pack_diff.h"
#include "tools/pack_fixtures.h"

namespace {

using namespace pack_fixtures;

TEST(PackDiff, PacksNewAndChangedFilesUnderTheirPaths) {
    TwoVersions versions;
    versions.options.dryRun = true;
    DiffPlan plan = versions.Plan();
    ASSERT_TRUE(plan.refusals.empty()) << plan.refusals[0];
    EXPECT_FALSE(plan.written);
    EXPECT_EQ(versions.folder.Names(), (std::set<std::string>{"new", "old", "stub.exe"})) << "a dry run writes nothing";
    ASSERT_EQ(plan.files.size(), 3u);
    const DiffFile& changed = plan.files[0];
    EXPECT_EQ(changed.path, "a.arc");
    EXPECT_EQ(changed.status, FileStatus::CHANGED);
    EXPECT_EQ(changed.record, RecordFate::UPDATED);
    EXPECT_EQ(ChecksumBytes(changed.oldChecksum), ChecksumOf(versions.old["a.arc"]));
    EXPECT_EQ(ChecksumBytes(changed.newChecksum), ChecksumOf(versions.fresh["a.arc"]));
    EXPECT_EQ(plan.files[1].path, "data/n.arc");
    EXPECT_EQ(plan.files[1].status, FileStatus::NEW);
    EXPECT_EQ(plan.files[1].record, RecordFate::ADDED);
    EXPECT_EQ(plan.files[2].status, FileStatus::UNCHANGED);
    EXPECT_EQ(plan.files[2].record, RecordFate::KEPT);
    EXPECT_EQ(plan.missing, std::vector<std::string>{"gone.txt"});
    EXPECT_EQ(plan.skipped, (std::vector<std::string>{"KVX.hvl", "uninst.lst"})) << "the updater keeps its lists";
    ASSERT_EQ(plan.warnings.size(), 1u);
    EXPECT_NE(plan.warnings[0].find("never deletes"), std::string::npos) << plan.warnings[0];

    versions.options.dryRun = false;
    plan = versions.Plan();
    ASSERT_TRUE(plan.written) << (plan.refusals.empty() ? "" : plan.refusals[0]);
    Inspection inspection;
    std::string error;
    ASSERT_TRUE(InspectPatch(versions.options.build.out, inspection, error)) << error;
    EXPECT_TRUE(inspection.problems.empty());
    ASSERT_EQ(inspection.verdict.entries.size(), 3u);
    EXPECT_EQ(inspection.verdict.entries[1].storedName, "a.arc");
    EXPECT_EQ(inspection.verdict.entries[2].storedName, "n.arc");
    ASSERT_EQ(inspection.verdict.records.size(), 4u);
    EXPECT_EQ(RecordPath(inspection.verdict.records[0]), "a.arc");
    EXPECT_EQ(ChecksumBytes(inspection.verdict.records[0].checksum), ChecksumOf(versions.fresh["a.arc"]));
    EXPECT_EQ(ChecksumBytes(inspection.verdict.records[1].checksum), ChecksumOf(versions.old["data/s.arc"])) << "kept";
    EXPECT_EQ(RecordPath(inspection.verdict.records[3]), "data\\n.arc");
}

// A new file named like a listed one in another folder gets a record of its
// own, where the updater finds it first; the listed file keeps its record.
TEST(PackDiff, NewFileNamedLikeAListedOneElsewhere) {
    TwoVersions versions;
    versions.fresh["a.arc"] = versions.old["a.arc"];
    versions.fresh["data/a.arc"] = GeneratedBytes(700, 7);
    const DiffPlan plan = versions.Plan();
    ASSERT_TRUE(plan.written) << (plan.refusals.empty() ? "" : plan.refusals[0]);
    const auto added = std::find_if(plan.files.begin(), plan.files.end(),
                                    [](const DiffFile& file) { return file.path == "data/a.arc"; });
    ASSERT_NE(added, plan.files.end());
    EXPECT_EQ(added->record, RecordFate::ADDED);
    Inspection inspection;
    std::string error;
    ASSERT_TRUE(InspectPatch(versions.options.build.out, inspection, error)) << error;
    ASSERT_GE(inspection.verdict.records.size(), 2u);
    EXPECT_EQ(RecordPath(inspection.verdict.records[0]), "data\\a.arc");
    EXPECT_EQ(ChecksumBytes(inspection.verdict.records[0].checksum), ChecksumOf(versions.fresh["data/a.arc"]));
    EXPECT_EQ(RecordPath(inspection.verdict.records[1]), "a.arc");
    EXPECT_EQ(ChecksumBytes(inspection.verdict.records[1].checksum), ChecksumOf(versions.old["a.arc"]));
}

// What the walk cannot pack is named: a link to nothing is left out with a
// warning, and a folder link back up the tree is not walked to the system's limit.
TEST(PackDiff, LinksNamed) {
    TwoVersions versions;
    versions.options.dryRun = true;
    versions.Plan();
    ASSERT_EQ(symlink("nothing", (versions.options.newDir + "/data/gone.arc").c_str()), 0);
    DiffPlan plan;
    std::string error;
    ASSERT_TRUE(PlanDiff(versions.options, plan, error)) << error;
    std::string warnings;
    for (const std::string& warning : plan.warnings) warnings += warning + "\n";
    EXPECT_NE(warnings.find("\"data/gone.arc\" in the new version is neither a file nor a folder that"), std::string::npos)
        << warnings;
    ASSERT_EQ(symlink("..", (versions.options.newDir + "/data/up").c_str()), 0);
    EXPECT_FALSE(PlanDiff(versions.options, plan, error));
    EXPECT_NE(error.find("folder \"data/up\" is a link back to the top folder"), std::string::npos) << error;
}

TEST(PackDiff, RefusesWhatTheUpdaterCannotDoNamingTheFiles) {
    const auto refused = [](const std::function<void(TwoVersions&)>& change, const std::string& mention,
                            bool withList = true) {
        TwoVersions versions;
        change(versions);
        const DiffPlan plan = versions.Plan(withList);
        std::string all;
        for (const std::string& refusal : plan.refusals) all += refusal + "\n";
        EXPECT_NE(all.find(mention), std::string::npos) << all;
        EXPECT_FALSE(plan.written);
        EXPECT_EQ(versions.folder.Names(), (std::set<std::string>{"new", "old", "stub.exe"})) << mention;
    };
    refused([](TwoVersions& v) { v.fresh["extra/x.arc"] = GeneratedBytes(9, 7); }, "creates no folders): \"extra/x.arc\"");
    refused([](TwoVersions& v) { v.fresh["A.ARC"] = GeneratedBytes(9, 8); }, "\"A.ARC\", \"a.arc\"");
    refused([](TwoVersions& v) {
        for (int i = 0; i < 30; ++i) v.fresh["f" + std::to_string(i) + ".arc"] = GeneratedBytes(9, 9 + i);
    }, "32 files to pack and the list make 33 entries");
    refused([](TwoVersions&) {}, "--base-list", false);
    refused([](TwoVersions& v) { v.fresh = v.old; }, "nothing to pack");
    refused([](TwoVersions& v) {
        v.options.dryRun = true;
        v.options.build.out = v.folder / "nowhere/patch.exe";
    }, "/nowhere\", which does not exist");
    // Files of either version that the patch does not pack are no output either.
    refused([](TwoVersions& v) { v.options.build.out = v.options.oldDir + "/gone.txt"; }, "/old/gone.txt\", which");
    refused([](TwoVersions& v) { v.options.build.out = v.options.newDir + "/data/s.arc"; }, "/new/data/s.arc\", which");
}

// A diff of the same two folders gives the same patch every time, also when
// NEW is a copy written in another order at another time.
TEST(PackDiff, TheSameFoldersGiveTheSameBytes) {
    TwoVersions versions;
    versions.Plan();
    WriteReversed(versions.folder / "copy", versions.fresh, 1000000000);
    const std::string stub = " diff --stub " + Quote(versions.options.build.stub) + " --out ";
    const std::string folders = " " + Quote(versions.options.oldDir) + " ";
    ASSERT_EQ(CliIn(FIRST_SETTING, stub + Quote(versions.folder / "1.exe") + folders + Quote(versions.options.newDir)).status, 0);
    ASSERT_EQ(CliIn(SECOND_SETTING, stub + Quote(versions.folder / "2.exe") + folders + Quote(versions.options.newDir)).status, 0);
    ASSERT_EQ(CliIn(SECOND_SETTING, stub + Quote(versions.folder / "3.exe") + folders + Quote(versions.folder / "copy")).status, 0);
    const Bytes first = ReadFile(versions.folder / "1.exe");
    EXPECT_GT(first.size(), PACKAGE_OFFSET);
    EXPECT_TRUE(first == ReadFile(versions.folder / "2.exe"));
    EXPECT_TRUE(first == ReadFile(versions.folder / "3.exe"));
}

}  // namespace
