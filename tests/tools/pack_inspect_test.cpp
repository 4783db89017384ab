// The packer's inspection of a patch: it refuses what the updater refuses and
// warns about what the updater takes but a publisher would not want.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pack_build.h"
#include "pack_inspect.h"
#include "pack_list.h"
#include "pack_preview.h"
#include "tools/pack_fixtures.h"

namespace {

using namespace pack_fixtures;

TEST(PackInspect, RejectsWhatTheUpdaterRejects) {
    Workbench bench;
    bench.Add("a.arc", 1000);
    bench.Add("b.arc", 10);
    ASSERT_TRUE(BuildPatch(bench.options).ok);
    const Bytes good = ReadFile(bench.options.out);
    const auto problemsOf = [&](const Bytes& bytes) { return bench.InspectAltered(bytes).problems.size(); };
    EXPECT_EQ(problemsOf(good), 0u);
    EXPECT_GT(problemsOf(Bytes(good.begin(), good.begin() + PACKAGE_OFFSET + 15)), 0u) << "too short";
    EXPECT_GT(problemsOf(Bytes(good.begin(), good.begin() + PACKAGE_OFFSET + 16 + 200)), 0u) << "index cut short";
    Bytes tooMany = good;
    PutU32(tooMany, PACKAGE_OFFSET + 12, 33);
    EXPECT_GT(problemsOf(tooMany), 0u);
    Bytes unterminated = good;
    std::memset(unterminated.data() + PACKAGE_OFFSET + 16 + 128, 'n', LONG_NAME_SIZE);
    EXPECT_GT(problemsOf(unterminated), 0u);
    EXPECT_GT(problemsOf(Bytes(good.begin(), good.end() - 1)), 0u) << "data past the end";
    Bytes flipped = good;
    flipped[good.size() - 20] ^= 1;
    EXPECT_EQ(problemsOf(flipped), 1u) << "a checksum differs";
    // Once found, the list must load whole from its entry, or the updater ends
    // the run as damaged before its first entry; the preview says so too.
    const size_t list = PACKAGE_OFFSET + 16 + 3 * 128;
    Bytes wrongMagic = good, pastTheEntry = good;
    wrongMagic[list] = 'X';
    PutU32(pastTheEntry, list + 12, 3);  // a.arc's first bytes would be the third record
    const std::vector<std::pair<Bytes, std::string>> damagedLists = {
        {wrongMagic, "its magic is not \"KHV_____\""}, {pastTheEntry, "its records run past its entry's size"}};
    for (const auto& c : damagedLists) {
        const Inspection in = bench.InspectAltered(c.first);
        ASSERT_EQ(in.problems.size(), 1u) << c.second;
        EXPECT_EQ(in.problems[0], "the list in entry 0 KVX.hvl cannot be loaded (" + c.second + "): a damaged package");
        EXPECT_EQ(in.verdict.result, UPDATE_E_CORRUPT);
        char* text = nullptr;
        size_t length = 0;
        FILE* out = open_memstream(&text, &length);
        ASSERT_NE(out, nullptr);
        PrintInspection(in, false, out);
        std::fclose(out);
        EXPECT_NE(std::string(text, length).find("list       entry 0, damaged: " + c.second + "\n"), std::string::npos)
            << text;
        std::free(text);
        Preview preview;
        std::string error;
        ASSERT_TRUE(PreviewPatch(bench.Altered(), bench.folder / ".", preview, error)) << error;
        EXPECT_EQ(preview.result, UPDATE_E_CORRUPT) << c.second;
        EXPECT_TRUE(preview.entries.empty()) << "no entry is reached";
    }
    // A name Windows refuses ("b?arc", then without a record) is met when its file is to be made.
    Bytes unusable = good;
    unusable[PACKAGE_OFFSET + 16 + 2 * 128 + 1] = '?';
    const Inspection in = bench.InspectAltered(unusable);
    ASSERT_EQ(in.problems.size(), 1u);
    EXPECT_EQ(in.problems[0], "entry 2 b?arc: install name \"b?arc\" holds a character Windows refuses in file "
                              "names: the updater cannot create its file");
    EXPECT_EQ(in.verdict.result, UPDATE_E_IO);
    Preview preview;
    std::string error;
    ASSERT_TRUE(PreviewPatch(bench.Altered(), bench.folder / ".", preview, error)) << error;
    EXPECT_EQ(preview.result, UPDATE_E_IO);
    EXPECT_EQ(preview.failedEntry, 2);
}

TEST(PackInspect, WarnsAboutWhatTheUpdaterTakesButAPublisherWouldNotWant) {
    Workbench bench;
    WriteFile(bench.options.stub, MinimalProgram());
    bench.Add("a.arc", 1000);
    bench.Add("b.arc", 10);
    ASSERT_TRUE(BuildPatch(bench.options).ok);
    const Bytes good = ReadFile(bench.options.out);
    const std::string altered = bench.Altered();
    const auto warningsOf = [&](const Bytes& bytes) {
        const Inspection in = bench.InspectAltered(bytes);
        std::string all = in.problems.empty() ? "" : "rejected\n";
        for (const std::string& warning : in.warnings) all += warning + "\n";
        return all;
    };
    EXPECT_EQ(warningsOf(good), "");
    const size_t list = PACKAGE_OFFSET + 16 + 3 * 128;
    Bytes changed = good;
    changed[PACKAGE_OFFSET + 11] = '1';
    // Read as 32-byte entries the index is garbage, so the patch is refused as well.
    EXPECT_NE(warningsOf(changed).find("differs from \"VORMEL ARC20\" in 1 byte"), std::string::npos);
    changed = good;
    changed[PACKAGE_OFFSET + 16] = 'X';  // the list's entry is "XVX.hvl": no list
    EXPECT_EQ(warningsOf(changed).find("no list is loaded (no entry named"), 0u);
    changed = good;
    changed[PACKAGE_OFFSET - 1] = 1;
    EXPECT_EQ(warningsOf(changed).find("the program image is not followed by zero bytes"), 0u);
    changed = good;
    changed.push_back(0);
    EXPECT_EQ(warningsOf(changed), "1 bytes after the last entry are no signature\n");
    changed = good;
    PutU32(changed, list + 12, testing_support::ReadU32(good, list + 12) + 1);  // reads on into a.arc
    PutU32(changed, PACKAGE_OFFSET + 16 + LONG_NAME_SIZE + 4, testing_support::ReadU32(good, PACKAGE_OFFSET + 16 + LONG_NAME_SIZE + 4) - 64);
    EXPECT_EQ(warningsOf(changed), "rejected\n64 bytes of data belong to no entry\n");

    changed = good;
    changed.push_back(0);
    WriteFile(altered, changed);
    const CliRun strict = Cli("inspect --strict " + Quote(altered));
    EXPECT_EQ(strict.status, 1);
    EXPECT_NE(strict.output.find("sundrift-pack: inspect: warning: "), std::string::npos) << strict.output;
    EXPECT_EQ(Cli("inspect " + Quote(altered)).status, 0);
    EXPECT_EQ(Cli("inspect --strict " + Quote(bench.options.out)).status, 0);
    EXPECT_NE(Cli("inspect --json " + Quote(altered)).output.find("\"warnings\": [\n    \""), std::string::npos);
}

}  // namespace
