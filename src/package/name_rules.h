#pragma once
// How names of a package are read and compared: which bytes lead a
// double-byte character, and the lower-cased copy in which names compare
// byte for byte. The updater reads them under the system's ANSI code page
// (IsAnsiLeadByte, LoweredCopy); the packer under code page 932.
#include <cstddef>

#include "package/multibyte_walk.h"

struct NameRules {
    LeadByteTest isLeadByte;
    // Copies `name` into `out` lower-cased; false, with `out` empty, when it does not fit.
    bool (*loweredCopy)(const char* name, char* out, size_t outSize);
};

// Work buffers of name comparisons, as large as a path.
constexpr size_t NAME_WORK_SIZE = 260;
