#pragma once
// Walking a narrow name one character at a time. A lead byte of a double-byte
// character takes its trail byte with it (but never the terminator), so a
// trail byte is never taken for a separator or a dot. Which bytes lead is the
// code page's business: the updater asks the system's ANSI code page, the
// packer uses code page 932.

using LeadByteTest = bool (*)(unsigned char byte);

// Lead bytes of code page 932 (Shift-JIS), the game's own code page.
bool IsCp932LeadByte(unsigned char byte);

inline bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// The character after the one that starts at `p` (*p is not the terminator).
inline const char* NextCharacter(const char* p, LeadByteTest isLeadByte) {
    return p + (isLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0' ? 2 : 1);
}

// True when the character at `p` is a lead byte with its trail byte.
inline bool IsDoubleByte(const char* p, LeadByteTest isLeadByte) { return NextCharacter(p, isLeadByte) == p + 2; }

// The last component of `path`: after a drive prefix ("C:") and after the last
// "\" or "/"; the terminator when the path ends in a separator.
const char* LastComponentOf(const char* path, LeadByteTest isLeadByte);

// The last component split as the record lookup compares it: `name` starts
// it, `extension` is its last "." (the terminator when it has none).
void SplitLastComponent(const char* path, LeadByteTest isLeadByte, const char** name, const char** extension);
