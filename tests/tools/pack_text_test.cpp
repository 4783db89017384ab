// The packer's text handling: Shift-JIS conversion, folded keys and columns.
#include <gtest/gtest.h>

#include <string>

#include "pack_text.h"
#include "tools/pack_fixtures.h"

namespace {

using namespace pack_fixtures;

TEST(PackText, FoldAndConversion) {
    std::string sjis;
    ASSERT_TRUE(Utf8ToCp932(SOFUTO_UTF8, sjis));
    EXPECT_EQ(sjis, SOFUTO_SJIS);
    EXPECT_FALSE(Utf8ToCp932(u8"\u00A5", sjis)) << "the yen sign would become a backslash";
    EXPECT_FALSE(Utf8ToCp932("\xFF", sjis)) << "not UTF-8";
    std::u32string upper, lower;
    ASSERT_TRUE(FoldedKey("\x82\x60\x83\x9F\x84\x40\x84\x46\x87\x54Z", upper));  // Ａ Α А Ё Ⅰ Z
    ASSERT_TRUE(FoldedKey("\x82\x81\x83\xBF\x84\x70\x84\x76\xFA\x40z", lower));  // ａ α а ё ⅰ z
    EXPECT_EQ(upper, lower);
    EXPECT_FALSE(FoldedKey("\x85\x40", upper)) << "an unassigned pair is no text";
    // Columns as a terminal shows them: kanji and full-width forms take two, half-width kana one.
    EXPECT_EQ(PadToColumns(u8"\u97F3\uFF21.arc", 10), u8"\u97F3\uFF21.arc  ");
    EXPECT_EQ(PadToColumns(u8"\uFF71.arc", 6), u8"\uFF71.arc ");
    EXPECT_EQ(PadToColumns("longer.arc", 4), "longer.arc");
}

}  // namespace
