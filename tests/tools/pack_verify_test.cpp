// The packer's check of an installed game against its list.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "pack_verify.h"
#include "tools/pack_fixtures.h"

namespace {

using namespace pack_fixtures;

TEST(PackVerify, ReportsMatchingDifferingAndMissingFiles) {
    Folder folder;
    const std::string game = folder / "game";
    GameFiles files = {{"a.arc", GeneratedBytes(100, 1)}, {"Data/B.arc", GeneratedBytes(200, 2)}, {"c.arc", GeneratedBytes(300, 3)}};
    WriteGame(game, files, {"a.arc", "data\\b.arc", "c.arc", "d.arc"});
    WriteFile(game + "/c.arc", GeneratedBytes(300, 4));
    Verification verification;
    std::string error;
    ASSERT_TRUE(VerifyGame(game, false, verification, error)) << error;
    ASSERT_EQ(verification.records.size(), 4u);
    EXPECT_EQ(verification.records[1].state, RecordState::MATCHES) << "found ignoring letter case, as on Windows";
    EXPECT_EQ(verification.records[2].state, RecordState::DIFFERS);
    EXPECT_EQ(verification.records[3].state, RecordState::MISSING);
    EXPECT_EQ(verification.matching, 2u);
    EXPECT_FALSE(VerificationPassed(verification, false));

    WriteFile(game + "/c.arc", files["c.arc"]);
    ASSERT_TRUE(VerifyGame(game, false, verification, error));
    EXPECT_TRUE(VerificationPassed(verification, false)) << "a missing file alone passes";
    EXPECT_FALSE(VerificationPassed(verification, true)) << "but not with --strict";
    EXPECT_FALSE(VerifyGame(folder / "nowhere", false, verification, error));

    // A path out of the game folder is not read, and what cannot be examined
    // (here a link to itself) is no missing file: neither passes.
    const std::string other = folder / "other";
    WriteGame(other, {{"a.arc", files["a.arc"]}}, {"a.arc", "..\\outside.arc", "loop.arc"});
    WriteFile(folder / "outside.arc", files["a.arc"]);
    ASSERT_EQ(symlink("loop.arc", (other + "/loop.arc").c_str()), 0);
    ASSERT_TRUE(VerifyGame(other, false, verification, error)) << error;
    ASSERT_EQ(verification.records.size(), 3u);
    EXPECT_EQ(verification.records[1].state, RecordState::UNREADABLE);
    EXPECT_FALSE(verification.records[1].checksummed);
    EXPECT_EQ(verification.records[2].state, RecordState::UNREADABLE);
    EXPECT_FALSE(VerificationPassed(verification, false));
}

}  // namespace
