#pragma once
// How names of a package are read and compared: which bytes lead a
// double-byte character, and the lower-cased copy in which names compare
// byte for byte. The updater reads them under the system's ANSI code page
// (IsAnsiLeadByte, LoweredCopy); the packer under code page 932.
#include <cstddef>

#include "package/portable/multibyte_walk.h"

struct NameRules {
    LeadByteTest isLeadByte;
    // Copies `name` into `out` lower-cased; false, with `out` empty, when it does not fit.
    bool (*loweredCopy)(const char* name, char* out, size_t outSize);
};

// The updater builds every path into a buffer of this many bytes (MAX_PATH),
// and compares names in work buffers as large.
constexpr size_t UPDATER_PATH_SIZE = 260;
