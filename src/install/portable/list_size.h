#pragma once
// The largest list file of the install folder that a run reads.
#include <cstdint>

// The lists of a game of a few dozen files take a few KiB.
constexpr uint32_t LARGEST_LIST_SIZE = 0x100000;
