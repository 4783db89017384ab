#include "pack_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <cerrno>
#endif

namespace {

constexpr unsigned SJIS_CODE_PAGE = 932;

#ifdef _WIN32

bool WideFromCodePage(unsigned codePage, const std::string& in, std::wstring& out) {
    out.clear();
    if (in.empty()) return true;
    const int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()),
                                           nullptr, 0);
    if (length <= 0) return false;
    out.resize(static_cast<size_t>(length));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), static_cast<int>(in.size()), &out[0],
                               length) == length;
}

bool NarrowFromWide(unsigned codePage, const std::wstring& in, std::string& out) {
    out.clear();
    if (in.empty()) return true;
    // Best-fit stand-ins and the default character are refusals, never output.
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultPointer = codePage == CP_UTF8 ? nullptr : &usedDefault;
    const int size = static_cast<int>(in.size());
    const int length = WideCharToMultiByte(codePage, flags, in.data(), size, nullptr, 0, nullptr, usedDefaultPointer);
    if (length <= 0 || usedDefault) return false;
    out.resize(static_cast<size_t>(length));
    return WideCharToMultiByte(codePage, flags, in.data(), size, &out[0], length, nullptr, usedDefaultPointer) ==
               length &&
           !usedDefault;
}

bool SjisFromUtf8(const std::string& utf8, std::string& sjis) {
    std::wstring wide;
    return WideFromCodePage(CP_UTF8, utf8, wide) && NarrowFromWide(SJIS_CODE_PAGE, wide, sjis);
}

bool Utf8FromSjis(const std::string& sjis, std::string& utf8) {
    std::wstring wide;
    return WideFromCodePage(SJIS_CODE_PAGE, sjis, wide) && NarrowFromWide(CP_UTF8, wide, utf8);
}

bool Cp932OfCodePoint(char32_t codePoint, std::string& sjis) {
    return NarrowFromWide(SJIS_CODE_PAGE, std::wstring(1, static_cast<wchar_t>(codePoint)), sjis);
}

// Code page 932 has no characters outside the basic plane, so no surrogates to join.
bool CodePointsOf(const std::string& sjis, std::u32string& out) {
    std::wstring wide;
    if (!WideFromCodePage(SJIS_CODE_PAGE, sjis, wide)) return false;
    out.assign(wide.begin(), wide.end());
    return true;
}

#else

// One iconv conversion of a whole string; false on any invalid or unmappable input.
bool Convert(const char* from, const char* to, const std::string& in, std::string& out) {
    out.clear();
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string buffer(in.size() * 4 + 16, '\0');
    char* source = const_cast<char*>(in.data());
    size_t sourceLeft = in.size();
    char* target = &buffer[0];
    size_t targetLeft = buffer.size();
    const size_t converted = iconv(cd, &source, &sourceLeft, &target, &targetLeft);
    const bool flushed = converted != static_cast<size_t>(-1) &&
                         iconv(cd, nullptr, nullptr, &target, &targetLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    // A positive count means irreversible conversions took place.
    if (!flushed || converted != 0 || sourceLeft != 0) return false;
    buffer.resize(buffer.size() - targetLeft);
    out = std::move(buffer);
    return true;
}

bool SjisFromUtf8(const std::string& utf8, std::string& sjis) {
    return Convert("UTF-8", "CP932", utf8, sjis);
}

bool Utf8FromSjis(const std::string& sjis, std::string& utf8) {
    return Convert("CP932", "UTF-8", sjis, utf8);
}

bool Cp932OfCodePoint(char32_t codePoint, std::string& sjis) {
    std::string utf32(4, '\0');
    for (int k = 0; k < 4; ++k) utf32[k] = static_cast<char>(codePoint >> (8 * k));
    return Convert("UTF-32LE", "CP932", utf32, sjis);
}

bool CodePointsOf(const std::string& sjis, std::u32string& out) {
    std::string utf32;
    if (!Convert("CP932", "UTF-32LE", sjis, utf32)) return false;
    out.clear();
    for (size_t i = 0; i + 4 <= utf32.size(); i += 4) {
        const auto byte = [&](size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(utf32[i + k])); };
        out.push_back(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24);
    }
    return true;
}

#endif

// Lower-case partners of the capitals that code page 932 holds.
char32_t FoldCodePoint(char32_t c) {
    if (c >= U'A' && c <= U'Z') return c + 0x20;
    if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;                // full-width Latin
    if (c >= 0x0391 && c <= 0x03A9 && c != 0x03A2) return c + 0x20;  // Greek
    if (c >= 0x0410 && c <= 0x042F) return c + 0x20;                // Cyrillic
    if (c >= 0x0400 && c <= 0x040F) return c + 0x50;                // Cyrillic Ё and kin
    if (c >= 0x2160 && c <= 0x216F) return c + 0x10;                // Roman numerals
    return c;
}

}  // namespace

bool Utf8ToCp932(const std::string& utf8, std::string& sjis) {
    // The way back must give the same text: this refuses one-way mappings.
    std::string back;
    return SjisFromUtf8(utf8, sjis) && Utf8FromSjis(sjis, back) && back == utf8;
}

bool Cp932ToUtf8(const std::string& sjis, std::string& utf8) {
    return Utf8FromSjis(sjis, utf8);
}

std::string DisplayName(const std::string& sjis) {
    std::string utf8;
    if (Cp932ToUtf8(sjis, utf8)) return utf8;
    std::string shown;
    for (unsigned char c : sjis) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            shown += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        }
    }
    return shown;
}

std::string ShiftJisLookAlikes(const std::string& utf8) {
    // Characters that other Japanese code pages map where code page 932 has these.
    struct LookAlike {
        const char* given;
        const char* givenCode;
        const char* instead;
        const char* insteadCode;
    };
    static const LookAlike LOOK_ALIKES[] = {
        {u8"\u301C", "U+301C", u8"\uFF5E", "U+FF5E"}, {u8"\u2212", "U+2212", u8"\uFF0D", "U+FF0D"},
        {u8"\u2016", "U+2016", u8"\u2225", "U+2225"}, {u8"\u2014", "U+2014", u8"\u2015", "U+2015"},
        {u8"\u00A2", "U+00A2", u8"\uFFE0", "U+FFE0"}, {u8"\u00A3", "U+00A3", u8"\uFFE1", "U+FFE1"},
        {u8"\u00AC", "U+00AC", u8"\uFFE2", "U+FFE2"},
    };
    std::string phrase;
    for (const LookAlike& c : LOOK_ALIKES) {
        if (utf8.find(c.given) == std::string::npos) continue;
        phrase += std::string(phrase.empty() ? "" : "; ") + "write \"" + c.instead + "\" (" + c.insteadCode +
                  ") for \"" + c.given + "\" (" + c.givenCode + ")";
    }
    return phrase;
}

bool Cp932CodePoints(const std::string& sjis, std::u32string& codePoints) {
    return CodePointsOf(sjis, codePoints);
}

bool FoldedKey(const std::string& sjis, std::u32string& key) {
    if (!CodePointsOf(sjis, key)) return false;
    for (char32_t& c : key) c = FoldCodePoint(c);
    return true;
}

// Pairs are mapped one by one like LowerCaseMultibyte maps them; single
// bytes other than ASCII letters have no lower-case partner in code page 932.
bool Cp932LoweredCopy(const char* name, char* out, size_t outSize) {
    const size_t length = std::strlen(name);
    if (outSize == 0) return false;
    out[0] = '\0';
    if (length >= outSize) return false;
    std::string lowered;
    for (const char* p = name; *p != '\0'; p = NextCharacter(p, IsCp932LeadByte)) {
        if (!IsDoubleByte(p, IsCp932LeadByte)) {
            lowered += *p >= 'A' && *p <= 'Z' ? static_cast<char>(*p - 'A' + 'a') : *p;
            continue;
        }
        std::u32string folded;
        std::string bytes;
        if (!FoldedKey(std::string(p, 2), folded) || folded.size() != 1 || !Cp932OfCodePoint(folded[0], bytes)) {
            return true;  // a pair that is no character empties the name
        }
        lowered += bytes;
    }
    if (lowered.size() >= outSize) return false;
    std::memcpy(out, lowered.c_str(), lowered.size() + 1);
    return true;
}

const NameRules CP932_NAME_RULES = {IsCp932LeadByte, Cp932LoweredCopy};

namespace {

bool IsWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

// The columns of UTF-8 text; a byte that starts no character counts one.
size_t Columns(const std::string& utf8) {
    size_t columns = 0;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        const size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (size_t k = 1; k < length && i + k < utf8.size(); ++k) c = c << 6 | (utf8[i + k] & 0x3F);
        columns += IsWide(c) ? 2 : 1;
        i += length;
    }
    return columns;
}

}  // namespace

std::string PadToColumns(const std::string& utf8, size_t columns) {
    const size_t used = Columns(utf8);
    return used >= columns ? utf8 : utf8 + std::string(columns - used, ' ');
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }
