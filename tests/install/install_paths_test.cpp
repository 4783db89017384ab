#include "install/install_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(InstallPaths, FormatFitsUpToTheLastByteOfTheBuffer) {
    char out[MAX_PATH];
    // "<folder>\<name>" of exactly 259 characters fits; one more does not.
    const std::string folder(250, 'f');
    const std::string name8(8, 'n');
    ASSERT_TRUE(FormatInstallPath(out, folder.c_str(), name8.c_str()));
    EXPECT_EQ(std::string(out), folder + "\\" + name8);
    EXPECT_FALSE(FormatInstallPath(out, folder.c_str(), (name8 + "n").c_str()));
    EXPECT_STREQ(out, "") << "a refused path leaves nothing usable behind";

    const std::string name4(4, 'n');
    ASSERT_TRUE(FormatTemporaryPath(out, folder.c_str(), name4.c_str()));
    EXPECT_EQ(std::string(out), folder + "\\" + name4 + ".tmp");
    EXPECT_FALSE(FormatTemporaryPath(out, folder.c_str(), (name4 + "n").c_str()));
    EXPECT_STREQ(out, "");
}

}  // namespace
