#pragma once
// Lower-casing of narrow names under the ANSI code page, a double-byte
// character always mapped as one unit.

#include <cstddef>

#include "package/portable/name_rules.h"

// Lower-cases a NUL-terminated string in place. A pair whose mapping fails
// empties the string; a lead byte right before the terminator is kept alone.
void LowerCaseMultibyte(char* text);

// Copies `name` into `out` (at most `outSize` bytes with its NUL) and lower-cases
// the copy. False, with `out` empty, when the name does not fit.
bool LoweredCopy(const char* name, char* out, size_t outSize);

// True when `name`, lower-cased in a copy, equals `lowered` byte for byte.
bool LoweredNameEquals(const char* name, const char* lowered);

// Lead bytes of the system's ANSI code page, the one every name is read in.
bool IsAnsiLeadByte(unsigned char byte);

// The updater's rules for reading and comparing names.
extern const NameRules ANSI_NAME_RULES;
