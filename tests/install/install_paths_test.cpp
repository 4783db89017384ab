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

TEST(InstallPaths, ContainedNames) {
    for (const char* name : {"a.arc", "sub\\a.arc", "sub/a.arc", "a\\b\\c.arc", "..a", "a..", ".hidden",
                             "ソフト.arc", "ソ\\表.arc"}) {
        EXPECT_TRUE(IsContainedName(name)) << name;
    }
}

TEST(InstallPaths, NamesThatLeaveTheFolderAreRefused) {
    for (const char* name : {"", "\\a.arc", "/a.arc", "\\\\server\\share\\a.arc", "//server/share/a.arc",
                             "C:\\a.arc", "C:a.arc", "..", "..\\a.arc", "../a.arc", "sub\\..\\..\\a.arc",
                             "sub\\..", ".", ".\\a.arc", "sub\\\\a.arc", "sub\\", "a.arc:stream"}) {
        EXPECT_FALSE(IsContainedName(name)) << name;
    }
}

TEST(InstallPaths, TrailByte5CIsNoSeparator) {
    // "ソ" and "表" end in 0x5C. Read byte by byte, "ソ.." would hold a ".." component
    // and "ソ\" an empty one; as characters both are plain names.
    ASSERT_EQ(std::string("ソ"), std::string("\x83\x5C"));
    EXPECT_TRUE(IsContainedName("ソ.."));
    EXPECT_TRUE(IsContainedName("表"));
    EXPECT_TRUE(IsContainedName("sub\\ソ"));
    EXPECT_FALSE(IsContainedName("ソ\\..\\a.arc")) << "a real separator after the character still counts";
}

TEST(InstallPaths, NamesThatStandForAnotherFileAreNotDistinct) {
    for (const char* name : {"a.arc", "sub\\a.arc", ".hidden", "a.tmpx", "a.tm", "tmp", "ソ", "sub\\ソ.arc", "a .arc"}) {
        EXPECT_TRUE(IsDistinctInstallName(name)) << name;
    }
    for (const char* name : {"a.arc.tmp", "A.ARC.TMP", ".tmp", "sub\\x.Tmp", "ソ.tmp", "a.arc.", "a.arc ",
                             "a.arc.tmp.", "sub.\\a.arc", "sub \\a.arc", "sub./a.arc", "a.."}) {
        EXPECT_FALSE(IsDistinctInstallName(name)) << name;
    }
}

}  // namespace
