#pragma once
// How much of a file is read, checksummed and written at a time, by the
// updater's copy buffer and by the packer alike.
#include <cstdint>

constexpr uint32_t COPY_CHUNK_SIZE = 0x100000;
