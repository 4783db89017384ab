#pragma once
// The furthest position a file can be sought to: SetFilePointer's distance is
// signed and has no high part, so 0x80000000 and above are out of reach.
#include <cstdint>

constexpr uint32_t SEEK_LIMIT = 0x7FFFFFFF;
