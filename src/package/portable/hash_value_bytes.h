#pragma once
// The one reading of a hash-value list from its bytes: its header, its count
// and where its records lie, and why a list is short or damaged. Callers read
// the bytes their own way (the package's list entry, the installed list of the
// game folder, a file of the publisher's) and decide what a fault means to them.
#include <cstdint>

#include "package/portable/package_format.h"

// Whether a list loaded, is absent, or why it is damaged. The reading itself
// gives LIST_LOADED or one of the faults from LIST_HEADER_SHORT on; the
// package's verdict adds the states of its list entry.
enum ListState {
    LIST_LOADED,
    LIST_NO_ENTRY,            // no entry named "kvx.hvl" in any letter case: absent
    LIST_OUT_OF_REACH,        // the list entry's data start beyond the reach of a seek
    LIST_HEADER_SHORT,        // the bytes end inside the header
    LIST_WRONG_MAGIC,         // the header does not start with "KHV_____" (where that is tested)
    LIST_RECORDS_PAST_ENTRY,  // the records it counts run past the room the list has (its entry's size)
    LIST_COUNT_OVERFLOW,      // a list of a file of its own whose size would exceed 32 bits
    LIST_RECORDS_PAST_END,    // the records it counts run past the bytes there are
};

enum MagicTest { MAGIC_TESTED, MAGIC_IGNORED };

// Reads a list's header from `head` and judges its records against the bytes.
// `head` holds the list's first min(available, 16) bytes; `available` bytes
// lie from the list's start to the end of what holds it; `room` of them
// belong to the list (the package's list entry's size). The package's list must start with the magic; the installed
// list is read without that test. On LIST_LOADED the header.count records
// follow the header; `header` holds the header whenever it could be read.
ListState ReadListHeader(const void* head, uint64_t available, uint64_t room, MagicTest magic, HashValueHeader& header);

// A list that is a file of its own, held in `size` bytes: they are all its room.
inline ListState ReadListFileHeader(const void* bytes, uint64_t size, MagicTest magic, HashValueHeader& header) {
    return ReadListHeader(bytes, size, UINT64_MAX, magic, header);
}

// The bytes of `count` records, which a loaded list's count always fits in 32 bits.
inline uint32_t RecordBytes(uint32_t count) { return count * static_cast<uint32_t>(sizeof(HashValueRecord)); }
