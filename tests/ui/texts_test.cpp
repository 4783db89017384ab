// The texts as the user sees them: Shift-JIS bytes, lengths and the ideographic
// spaces that pad the message texts to one width.
#include "ui/portable/texts.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr size_t PADDED_MESSAGE_BYTES = 52;
constexpr unsigned char IDEOGRAPHIC_SPACE[] = {0x81, 0x40};

std::vector<unsigned char> BytesOf(const char* text) {
    std::vector<unsigned char> bytes;
    for (const char* p = text; *p; ++p) bytes.push_back(static_cast<unsigned char>(*p));
    return bytes;
}

// Counted in whole characters from the end, so a trail byte 0x81 cannot be mistaken
// for the start of a space.
int TrailingIdeographicSpaces(const char* text) {
    const std::wstring wide = [&] {
        const int length = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
        std::wstring result(length > 0 ? length - 1 : 0, L'\0');
        if (length > 0) MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, &result[0], length);
        return result;
    }();
    int count = 0;
    for (auto it = wide.rbegin(); it != wide.rend() && *it == L'\x3000'; ++it) ++count;
    return count;
}

std::wstring Decode(const char* text) {
    const int length = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (length <= 0) return L"<not Shift-JIS>";
    std::wstring wide(length - 1, L'\0');
    MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, &wide[0], length);
    return wide;
}

bool AllDoubleByte(const char* text) {
    for (const char* p = text; *p; p += 2) {
        if (!IsDBCSLeadByteEx(932, static_cast<BYTE>(*p)) || p[1] == '\0') return false;
    }
    return true;
}

struct MessageText {
    const char* name;
    const char* text;
    size_t size;  // sizeof the array, terminator included
    const wchar_t* words;  // the text without its padding, as UTF-16
    int spaces;
    size_t bytes;
};

const MessageText MESSAGES[] = {
    {"consent", TEXT_CONSENT, sizeof TEXT_CONSENT,
     L"\x30A2\x30C3\x30D7\x30C7\x30FC\x30C8\x3092\x884C\x3044\x307E\x3059\x304B\xFF1F", 13, 52},
    {"game running", TEXT_GAME_RUNNING, sizeof TEXT_GAME_RUNNING,
     L"\x30B2\x30FC\x30E0\x3001\x30E9\x30F3\x30C1\x30E3\x30FC\x3001\x30A2\x30F3\x30A4\x30F3"
     L"\x30B9\x30C8\x30FC\x30E9\x30FC\x306E\x3044\x305A\x308C\x304B\x304C\x5B9F\x884C\x4E2D"
     L"\x306A\x306E\x3067\x30A2\x30C3\x30D7\x30C7\x30FC\x30C8\x3092\x884C\x3048\x307E\x305B\x3093",
     0, 86},
    {"not installed", TEXT_NOT_INSTALLED, sizeof TEXT_NOT_INSTALLED,
     L"\x30B2\x30FC\x30E0\x304C\x30A4\x30F3\x30B9\x30C8\x30FC\x30EB\x3055\x308C\x3066\x3044"
     L"\x307E\x305B\x3093",
     9, 52},
    {"dialog failure", TEXT_DIALOG_FAILURE, sizeof TEXT_DIALOG_FAILURE,
     L"\x30C0\x30A4\x30A2\x30ED\x30B0\x306E\x8D77\x52D5\x306B\x5931\x6557\x3057\x307E\x3057"
     L"\x305F\x3002",
     10, 52},
    {"uninstall list failure", TEXT_UNINSTALL_LIST_FAILURE, sizeof TEXT_UNINSTALL_LIST_FAILURE,
     L"\x30A2\x30F3\x30A4\x30F3\x30B9\x30C8\x30EC\x30FC\x30B7\x30E7\x30F3\x30D5\x30A1\x30A4"
     L"\x30EB\x306E\x66F4\x65B0\x306B\x5931\x6557\x3057\x307E\x3057\x305F",
     1, 52},
    {"other failure", TEXT_OTHER_FAILURE, sizeof TEXT_OTHER_FAILURE,
     L"\x4F55\x3089\x304B\x306E\x8981\x56E0\x306B\x3088\x308A\x30A2\x30C3\x30D7\x30C7\x30FC"
     L"\x30C8\x304C\x884C\x3048\x307E\x305B\x3093",
     5, 52},
    {"success", TEXT_SUCCESS, sizeof TEXT_SUCCESS,
     L"\x30A2\x30C3\x30D7\x30C7\x30FC\x30C8\x304C\x5B8C\x4E86\x3057\x307E\x3057\x305F", 13, 52},
    {"damaged package", TEXT_DAMAGED_PACKAGE, sizeof TEXT_DAMAGED_PACKAGE,
     L"\x30A2\x30C3\x30D7\x30C7\x30FC\x30C8\x30D7\x30ED\x30B0\x30E9\x30E0\x304C\x7834\x640D"
     L"\x3057\x3066\x3044\x308B\x53EF\x80FD\x6027\x304C\x3042\x308A\x307E\x3059",
     0, 52},
    {"abort confirmation", TEXT_ABORT_CONFIRMATION, sizeof TEXT_ABORT_CONFIRMATION,
     L"\x30A2\x30C3\x30D7\x30C7\x30FC\x30C8\x3092\x4E2D\x6B62\x3057\x307E\x3059\x304B\xFF1F", 12, 52},
};

TEST(Texts, MessageTextsHaveTheirWordsLengthsAndPadding) {
    for (const MessageText& m : MESSAGES) {
        SCOPED_TRACE(m.name);
        EXPECT_EQ(strlen(m.text), m.bytes);
        EXPECT_EQ(m.size, m.bytes + 1) << "no stray bytes after the terminator";
        EXPECT_TRUE(AllDoubleByte(m.text)) << "every character is a double-byte one";
        EXPECT_EQ(TrailingIdeographicSpaces(m.text), m.spaces);
        EXPECT_EQ(Decode(m.text), std::wstring(m.words) + std::wstring(m.spaces, L'\x3000'));
    }
}

TEST(Texts, PaddedTextsAreTwentySixCharactersWide) {
    for (const MessageText& m : MESSAGES) {
        if (m.text == TEXT_GAME_RUNNING) continue;  // the one text too long to pad
        SCOPED_TRACE(m.name);
        EXPECT_EQ(strlen(m.text), PADDED_MESSAGE_BYTES);
        EXPECT_EQ(Decode(m.text).size(), PADDED_MESSAGE_BYTES / 2);
    }
}

TEST(Texts, PaddingIsIdeographicSpaceBytes) {
    const std::vector<unsigned char> bytes = BytesOf(TEXT_SUCCESS);
    ASSERT_EQ(bytes.size(), PADDED_MESSAGE_BYTES);
    for (size_t i = bytes.size() - 13 * 2; i < bytes.size(); i += 2) {
        EXPECT_EQ(bytes[i], IDEOGRAPHIC_SPACE[0]) << "at " << i;
        EXPECT_EQ(bytes[i + 1], IDEOGRAPHIC_SPACE[1]) << "at " << i;
    }
    // The character before the padding ("た", 82 BD) is not itself a space.
    EXPECT_EQ(bytes[bytes.size() - 13 * 2 - 2], 0x82);
    EXPECT_EQ(bytes[bytes.size() - 13 * 2 - 1], 0xBD);
}

TEST(Texts, AbortConfirmationBytes) {
    const std::vector<unsigned char> expected = {
        0x83, 0x41, 0x83, 0x62, 0x83, 0x76, 0x83, 0x66, 0x81, 0x5B, 0x83, 0x67, 0x82, 0xF0,
        0x92, 0x86, 0x8E, 0x7E, 0x82, 0xB5, 0x82, 0xDC, 0x82, 0xB7, 0x82, 0xA9, 0x81, 0x48,
        0x81, 0x40, 0x81, 0x40, 0x81, 0x40, 0x81, 0x40, 0x81, 0x40, 0x81, 0x40,
        0x81, 0x40, 0x81, 0x40, 0x81, 0x40, 0x81, 0x40, 0x81, 0x40, 0x81, 0x40};
    EXPECT_EQ(BytesOf(TEXT_ABORT_CONFIRMATION), expected);
}

TEST(Texts, DamagedPackageKeepsTheTrailByteThatLooksLikeABackslash) {
    // "能" is 94 5C: its trail byte must survive as 5C, not be taken for an escape.
    const std::vector<unsigned char> bytes = BytesOf(TEXT_DAMAGED_PACKAGE);
    ASSERT_EQ(bytes.size(), PADDED_MESSAGE_BYTES);
    const size_t offset = 19 * 2;  // the twentieth character
    EXPECT_EQ(bytes[offset], 0x94);
    EXPECT_EQ(bytes[offset + 1], 0x5C);
}

TEST(Texts, ProgramTitleBytes) {
    // 「Aubrelle」, one ASCII space, fullwidth ｆｅｌｍｉｒ, パッチ, " ver 1.00".
    const std::vector<unsigned char> expected = {
        0x81, 0x75, 'A', 'u', 'b', 'r', 'e', 'l', 'l', 'e', 0x81, 0x76, ' ',
        0x82, 0x86, 0x82, 0x85, 0x82, 0x8C, 0x82, 0x8D, 0x82, 0x89, 0x82, 0x92,
        0x83, 0x70, 0x83, 0x62, 0x83, 0x60, ' ', 'v', 'e', 'r', ' ', '1', '.', '0', '0'};
    EXPECT_EQ(BytesOf(TEXT_PROGRAM_TITLE), expected);
    EXPECT_EQ(sizeof TEXT_PROGRAM_TITLE, expected.size() + 1);
}

TEST(Texts, InstallingFormatBytesAndUse) {
    const std::vector<unsigned char> expected = {
        '%', 's', 0x82, 0xF0, 0x83, 0x43, 0x83, 0x93, 0x83, 0x58, 0x83, 0x67,
        0x81, 0x5B, 0x83, 0x8B, 0x92, 0x86};
    EXPECT_EQ(BytesOf(TEXT_INSTALLING_FORMAT), expected);

    char status[64];
    const int length = snprintf(status, sizeof status, TEXT_INSTALLING_FORMAT, "DATA01.arc");
    ASSERT_EQ(length, 10 + 16);
    EXPECT_EQ(Decode(status),
              L"DATA01.arc\x3092\x30A4\x30F3\x30B9\x30C8\x30FC\x30EB\x4E2D");
}

}  // namespace
