#pragma once
// Which entry holds the package's list, and which record covers an entry.
#include <cstdint>

#include "package/portable/name_rules.h"
#include "package/portable/package_format.h"

// True when the stored name, lower-cased, is "kvx.hvl": the first such entry holds the list.
bool IsListEntryName(const char* storedName, const NameRules& rules);

// The first record, in list order, whose path's last component equals the
// entry's stored name ignoring case; -1 when none does. A path without its
// terminator matches nothing.
int FindRecordIndex(const HashValueRecord* records, uint32_t count, const char* storedName, const NameRules& rules);

// True when the record's path field holds its terminator.
bool RecordPathTerminated(const HashValueRecord& record);
