#pragma once
// Reading and replacing the small list files of the install folder.
#include <cstdint>

#include "install/portable/list_size.h"
#include "io/file_handle.h"

// Opens `path` for reading when it is a plain file (see IsPlainFileAt) of at
// most LARGEST_LIST_SIZE bytes and gives its size. A device, a pipe, a larger
// file or anything reached through a link or a further name is refused
// (false): a list planted that way can neither hang the reader, nor make it
// allocate much, nor have a file the user may not read copied into the folder.
bool OpenListFile(FileHandle& file, const char* path, uint32_t& size);

// Replaces the list at `listPath` with `head` followed by `rest`. The bytes go to
// a fresh file at `scratchPath` first, which is renamed over the list only once
// every byte is written and flushed, so a failure leaves the old list byte for
// byte; the scratch file never outlives a failure. A read-only, hidden or system
// list is refused, as re-creating it in place would be, and keeps its attributes.
bool ReplaceListFile(const char* listPath, const char* scratchPath, const void* head, uint32_t headLength,
                     const void* rest = nullptr, uint32_t restLength = 0);
