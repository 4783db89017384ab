#pragma once
// The one buffer every chunk is copied through: COPY_CHUNK_SIZE bytes on pages
// of their own (VirtualAlloc), so it starts on a page boundary; reads into a
// buffer that starts off one are much slower.
#include <cstdint>
#include <memory>

#include "io/portable/chunk_size.h"

struct CopyBufferRelease {
    void operator()(uint8_t* buffer) const;
};
using CopyBuffer = std::unique_ptr<uint8_t, CopyBufferRelease>;

// Null when the memory cannot be had.
CopyBuffer AllocateCopyBuffer();
