#pragma once
// Names as the packer handles them: UTF-8 on the command line, Shift-JIS
// (code page 932) in the package, and a case-folded form for comparisons
// that agrees with the updater's lower-casing under code page 932.
#include <cstddef>
#include <string>

#include "package/portable/name_rules.h"

// Strict UTF-8 to code page 932: false when any character has no exact
// Shift-JIS form (best-fit and one-way mappings such as the yen sign count as none).
bool Utf8ToCp932(const std::string& utf8, std::string& sjis);

// For text that Utf8ToCp932 refused: the characters in it that only look like
// Shift-JIS ones, each with the one to write instead ("〜" U+301C: "～" U+FF5E),
// as a phrase for a message; empty when it holds none of them.
std::string ShiftJisLookAlikes(const std::string& utf8);

// Strict code page 932 to UTF-8: false on bytes that are not Shift-JIS.
bool Cp932ToUtf8(const std::string& sjis, std::string& utf8);

// For display: the UTF-8 form, or the bytes with anything undecodable as \xNN.
std::string DisplayName(const std::string& sjis);

// The code points of Shift-JIS text; false on bytes that are not Shift-JIS.
bool Cp932CodePoints(const std::string& sjis, std::u32string& codePoints);

// The text lower-cased as the updater does under code page 932 (ASCII,
// full-width Latin, Greek, Cyrillic, Roman numerals), as code points.
// False when the bytes are not Shift-JIS: such a name matches nothing.
bool FoldedKey(const std::string& sjis, std::u32string& key);

// `name` lower-cased as LowerCaseMultibyte does under code page 932: ASCII
// letters and the double-byte capitals, every double-byte character given
// the bytes the system converts it back to, and an empty result when a pair
// is no character. False, with `out` empty, when it does not fit.
bool Cp932LoweredCopy(const char* name, char* out, size_t outSize);

// The updater's rules for names, as they hold under code page 932.
extern const NameRules CP932_NAME_RULES;

// UTF-8 text padded with spaces to `columns` terminal columns, counting East
// Asian wide characters (kanji, kana, full-width forms) as two; longer text is
// returned as it is.
std::string PadToColumns(const std::string& utf8, size_t columns);

// A name in double quotes, as messages show it.
std::string Quoted(const std::string& text);
