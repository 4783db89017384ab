#include "package/lower_case.h"

#include <windows.h>

#include <cstring>

namespace {

LCID LocaleOfCodePage() {
    return GetACP() == 932 ? MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), SORT_DEFAULT)
                           : LOCALE_SYSTEM_DEFAULT;
}

// Maps `length` bytes (one character) to its lower-case form in `out`;
// returns the bytes written (1 or 2), or 0 when any conversion fails.
int LowerCharacter(const char* character, int length, char out[2]) {
    WCHAR wide[2];
    const int wideLength = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED | MB_ERR_INVALID_CHARS,
                                               character, length, wide, 2);
    if (wideLength == 0) return 0;
    WCHAR lower[2];
    const int lowerLength = LCMapStringW(LocaleOfCodePage(), LCMAP_LOWERCASE, wide, wideLength, lower, 2);
    if (lowerLength == 0) return 0;
    return WideCharToMultiByte(CP_ACP, 0, lower, lowerLength, out, 2, nullptr, nullptr);
}

}  // namespace

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

const NameRules ANSI_NAME_RULES = {IsAnsiLeadByte, LoweredCopy};

void LowerCaseMultibyte(char* text) {
    size_t read = 0, write = 0;
    while (text[read] != '\0') {
        const size_t length = static_cast<size_t>(NextCharacter(text + read, IsAnsiLeadByte) - (text + read));
        char mapped[2];
        const int mappedLength = LowerCharacter(text + read, static_cast<int>(length), mapped);
        if (length == 2 && mappedLength == 0) {
            text[0] = '\0';
            return;
        }
        // A single byte is lowered only when its partner is again a single
        // byte; a lead byte cut short by the terminator is kept as it is.
        if (length == 2) {
            std::memcpy(text + write, mapped, static_cast<size_t>(mappedLength));
            write += static_cast<size_t>(mappedLength);
        } else {
            text[write++] = mappedLength == 1 ? mapped[0] : text[read];
        }
        read += length;
    }
    text[write] = '\0';
}

bool LoweredCopy(const char* name, char* out, size_t outSize) {
    const size_t length = std::strlen(name);
    if (length >= outSize) {
        if (outSize) out[0] = '\0';
        return false;
    }
    std::memcpy(out, name, length + 1);
    LowerCaseMultibyte(out);
    return true;
}

bool LoweredNameEquals(const char* name, const char* lowered) {
    char copy[MAX_PATH];
    return LoweredCopy(name, copy, sizeof copy) && std::strcmp(copy, lowered) == 0;
}
