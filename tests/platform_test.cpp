// The test environment itself: Wine must run with the Japanese ANSI code page.
#include <windows.h>

#include <gtest/gtest.h>

TEST(Platform, AnsiCodePageIs932) {
    ASSERT_EQ(GetACP(), 932u)
        << "The ANSI code page is not 932: run the tests with LC_ALL=ja_JP.UTF-8 "
           "(the wine-run wrapper does) and generate the locale with scripts/setup.";
}

TEST(Platform, ShiftJisLiteralsAreCompiledAsCp932) {
    // "ソ" is 83 5C in Shift-JIS: a trail byte equal to the backslash.
    const char so[] = "ソ";
    ASSERT_EQ(sizeof so, 3u);
    EXPECT_EQ(static_cast<unsigned char>(so[0]), 0x83);
    EXPECT_EQ(static_cast<unsigned char>(so[1]), 0x5C);
}
