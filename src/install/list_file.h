#pragma once
// Reading and replacing the small list files of the install folder.
#include <cstdint>

#include "io/file_handle.h"

// Opens `path` for reading when it is a regular disk file under 4 GiB and gives
// its size. A device, a pipe or a larger file is refused (false), so a link
// planted at the list's name can neither hang the reader nor fake a small size.
bool OpenListFile(FileHandle& file, const char* path, uint32_t& size);

// Replaces the list at `listPath` with `head` followed by `rest`. The bytes go to
// a fresh file at `scratchPath` first, which is renamed over the list only once
// every byte is written and flushed, so a failure leaves the old list byte for
// byte; the scratch file never outlives a failure. A read-only list is refused,
// as re-creating it in place would be.
bool ReplaceListFile(const char* listPath, const char* scratchPath, const void* head, uint32_t headLength,
                     const void* rest = nullptr, uint32_t restLength = 0);
