#include "package/lower_case.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Lowered(std::string text) {
    text.push_back('\0');
    LowerCaseMultibyte(&text[0]);
    return std::string(text.c_str());
}

TEST(LowerCaseMultibyte, AsciiCapitals) {
    EXPECT_EQ(Lowered("KVX.HVL"), "kvx.hvl");
    EXPECT_EQ(Lowered("Data_01.Arc"), "data_01.arc");
    EXPECT_EQ(Lowered(""), "");
}

TEST(LowerCaseMultibyte, DoubleByteCapitals) {
    EXPECT_EQ(Lowered("ＡＢＣ"), "ａｂｃ");       // full-width Latin
    EXPECT_EQ(Lowered("ΑΒΓ"), "αβγ");           // Greek
    EXPECT_EQ(Lowered("АБВ"), "абв");           // Cyrillic
}

TEST(LowerCaseMultibyte, KanaKanjiAndHalfWidthStay) {
    for (const char* text : {"パッチ", "漢字", "ｱｲｳ", "ソフト"}) EXPECT_EQ(Lowered(text), text) << text;
}

TEST(LowerCaseMultibyte, TrailBytesAreNeverLoweredAlone) {
    // "ア" is 83 41 and "ソ" 83 5C: their trail bytes look like 'A' and '\'.
    const std::string a = "ア";
    ASSERT_EQ(static_cast<unsigned char>(a[1]), 0x41);
    EXPECT_EQ(Lowered("アA"), "アa");
    EXPECT_EQ(Lowered("ソZ"), "ソz");
}

TEST(LowerCaseMultibyte, LeadByteBeforeTerminatorIsKept) {
    std::string text = "AB\x83";
    EXPECT_EQ(Lowered(text), "ab\x83");
}

TEST(LowerCaseMultibyte, UnmappablePairEmptiesTheString) {
    // 0x85 0x40 is an unassigned pair in code page 932.
    EXPECT_EQ(Lowered("ABC\x85\x40XYZ"), "");
}

TEST(LoweredNameEquals, ComparesLoweredCopy) {
    char stored[] = "KVX.hvl";
    EXPECT_TRUE(LoweredNameEquals(stored, "kvx.hvl"));
    EXPECT_STREQ(stored, "KVX.hvl") << "the stored name keeps its case";
    EXPECT_FALSE(LoweredNameEquals("KVX.hvl ", "kvx.hvl"));
    EXPECT_FALSE(LoweredNameEquals("KVX.hv", "kvx.hvl"));
}

TEST(LoweredCopy, RefusesNamesThatDoNotFit) {
    char out[4];
    EXPECT_TRUE(LoweredCopy("ABC", out, sizeof out));
    EXPECT_STREQ(out, "abc");
    EXPECT_FALSE(LoweredCopy("ABCD", out, sizeof out));
    EXPECT_STREQ(out, "");
}

}  // namespace
