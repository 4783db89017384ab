// The progress dialog's template as stored in the executable, read field by field
// from the extended dialog template bytes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ui/resource_ids.h"

namespace {

const WORD JAPANESE = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

// Reads the template in order; every read is checked against the resource's size.
struct TemplateReader {
    const uint8_t* bytes;
    size_t size;
    size_t offset = 0;
    bool overrun = false;

    bool Has(size_t count) {
        if (offset + count > size) overrun = true;
        return !overrun;
    }
    uint16_t Word() {
        if (!Has(2)) return 0;
        uint16_t value;
        memcpy(&value, bytes + offset, 2);
        offset += 2;
        return value;
    }
    uint32_t Dword() {
        if (!Has(4)) return 0;
        uint32_t value;
        memcpy(&value, bytes + offset, 4);
        offset += 4;
        return value;
    }
    uint8_t Byte() {
        if (!Has(1)) return 0;
        return bytes[offset++];
    }
    std::wstring String() {
        std::wstring text;
        for (uint16_t c = Word(); c != 0 && !overrun; c = Word()) text += static_cast<wchar_t>(c);
        return text;
    }
    // A class or menu field: 0xFFFF and an atom, or a string; the atom is returned
    // in `atom` (0 for a string).
    std::wstring NameOrAtom(uint16_t* atom) {
        *atom = 0;
        if (!Has(2)) return L"";
        uint16_t first;
        memcpy(&first, bytes + offset, 2);
        if (first == 0xFFFF) {
            offset += 2;
            *atom = Word();
            return L"";
        }
        return String();
    }
    void AlignToDword() { offset = (offset + 3) & ~static_cast<size_t>(3); }
};

struct ExpectedControl {
    DWORD exStyle;
    DWORD style;
    short x, y, cx, cy;
    DWORD id;
    uint16_t classAtom;         // 0 when the class is given by name
    const wchar_t* className;   // stored exactly so, letter case included
    const wchar_t* caption;
};

const ExpectedControl CONTROLS[] = {
    {0, 0x50010000, 110, 88, 51, 14, 1000, 0x0080, L"", L"\x4E2D\x6B62"},  // 中止
    {0x00020000, 0x50020201, 7, 7, 257, 14, 1001, 0x0082, L"", L""},
    {0, 0x50800001, 7, 33, 257, 16, 1002, 0, L"msctls_progress32", L""},
    {0, 0x50800001, 7, 59, 257, 16, 1003, 0, L"msctls_progress32", L""},
};

class DialogTemplate : public ::testing::Test {
protected:
    void SetUp() override {
        HRSRC found = FindResourceExA(nullptr, MAKEINTRESOURCEA(5) /* RT_DIALOG */,
                                      MAKEINTRESOURCEA(IDD_PROGRESS), JAPANESE);
        ASSERT_NE(found, nullptr) << "no Japanese dialog resource " << IDD_PROGRESS;
        HGLOBAL loaded = LoadResource(nullptr, found);
        ASSERT_NE(loaded, nullptr);
        reader.bytes = static_cast<const uint8_t*>(LockResource(loaded));
        reader.size = SizeofResource(nullptr, found);
        ASSERT_NE(reader.bytes, nullptr);
    }

    // Moves past the header to the first control.
    void SkipHeader() {
        uint16_t atom = 0;
        reader.offset = 2 + 2 + 4 + 4 + 4 + 2 + 2 * 4;  // up to the size
        reader.NameOrAtom(&atom);  // menu
        reader.NameOrAtom(&atom);  // class
        reader.String();           // title
        reader.offset += 2 + 2 + 1 + 1;  // point size, weight, italic, character set
        reader.String();                 // typeface
    }

    TemplateReader reader{nullptr, 0};
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR languages) {
    reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
    return TRUE;
}

TEST_F(DialogTemplate, IsStoredOnlyInJapanese) {
    std::vector<WORD> languages;
    EnumResourceLanguagesA(nullptr, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_PROGRESS), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{JAPANESE});
    EXPECT_EQ(JAPANESE, 1041);
}

TEST_F(DialogTemplate, HeaderFields) {
    EXPECT_EQ(reader.Word(), 1) << "version";
    EXPECT_EQ(reader.Word(), 0xFFFF) << "signature of the extended template";
    EXPECT_EQ(reader.Dword(), 0u) << "help id";
    EXPECT_EQ(reader.Dword(), 0u) << "extended style";
    const DWORD style = reader.Dword();
    EXPECT_EQ(style, 0x80C000C0u);
    EXPECT_EQ(style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(style & WS_VISIBLE, 0u) << "created hidden";
    EXPECT_EQ(style & WS_SYSMENU, 0u) << "no system menu, no close box";
    EXPECT_EQ(style & DS_NOFAILCREATE, 0u);
    EXPECT_EQ(reader.Word(), 4) << "control count";
    EXPECT_EQ(static_cast<short>(reader.Word()), 0) << "x";
    EXPECT_EQ(static_cast<short>(reader.Word()), 0) << "y";
    EXPECT_EQ(reader.Word(), 271) << "width";
    EXPECT_EQ(reader.Word(), 109) << "height";
    uint16_t atom = 0;
    EXPECT_EQ(reader.NameOrAtom(&atom), L"") << "menu";
    EXPECT_EQ(atom, 0) << "no menu";
    EXPECT_EQ(reader.NameOrAtom(&atom), L"") << "class";
    EXPECT_EQ(atom, 0) << "the default dialog class";
    EXPECT_EQ(reader.String(), L"") << "title, set at run time";
    EXPECT_EQ(reader.Word(), 9) << "point size";
    EXPECT_EQ(reader.Word(), 400) << "weight";
    EXPECT_EQ(reader.Byte(), 0) << "italic";
    EXPECT_EQ(reader.Byte(), 128) << "character set";
    EXPECT_EQ(reader.String(), L"MS UI Gothic");
    EXPECT_FALSE(reader.overrun);
}

TEST_F(DialogTemplate, ControlsInOrder) {
    SkipHeader();
    ASSERT_FALSE(reader.overrun);
    for (const ExpectedControl& c : CONTROLS) {
        SCOPED_TRACE(testing::Message() << "control " << c.id);
        reader.AlignToDword();
        EXPECT_EQ(reader.Dword(), 0u) << "help id";
        EXPECT_EQ(reader.Dword(), c.exStyle) << "extended style";
        EXPECT_EQ(reader.Dword(), c.style) << "style";
        EXPECT_EQ(static_cast<short>(reader.Word()), c.x);
        EXPECT_EQ(static_cast<short>(reader.Word()), c.y);
        EXPECT_EQ(static_cast<short>(reader.Word()), c.cx);
        EXPECT_EQ(static_cast<short>(reader.Word()), c.cy);
        EXPECT_EQ(reader.Dword(), c.id);
        uint16_t atom = 0;
        const std::wstring className = reader.NameOrAtom(&atom);
        EXPECT_EQ(atom, c.classAtom);
        EXPECT_EQ(className, c.className) << "class name";
        uint16_t captionAtom = 0;
        EXPECT_EQ(reader.NameOrAtom(&captionAtom), c.caption) << "caption";
        EXPECT_EQ(captionAtom, 0) << "caption is text, not a resource id";
        EXPECT_EQ(reader.Word(), 0) << "creation data";
        ASSERT_FALSE(reader.overrun);
    }
    EXPECT_LE(reader.size - reader.offset, 3u) << "nothing but padding after the last control";
}

}  // namespace
