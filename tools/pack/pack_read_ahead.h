#pragma once
// Reading a file one chunk ahead: a second thread reads the next chunk into
// one page-aligned buffer while the caller works on the last one in the other,
// so reading overlaps checksumming and writing (two cores do what one did).
#include <cstdint>
#include <cstdio>
#include <functional>

#include "package/portable/running_checksum.h"

enum class ChunkWalk {
    DONE,         // every chunk up to the end of the file was consumed
    READ_FAILED,  // a read failed; `readError` holds its errno
    STOPPED       // the consumer returned false
};

// Hands every chunk of `file`, in order, to `consume` (at most COPY_CHUNK_SIZE
// bytes each, never empty). Only the reading thread touches `file` meanwhile.
// With `checksum`, the reading thread feeds each chunk to it before handing it
// over, so the checksum covers exactly the bytes the consumer gets.
ChunkWalk ForEachChunk(FILE* file, RunningChecksum* checksum,
                       const std::function<bool(const uint8_t* chunk, size_t size)>& consume, int& readError);
