#pragma once
// Which records of the installed list the pruning looks for in the folder: a
// record counts as missing only when its path was probed inside the folder
// and nothing stands there, so one that cannot be probed is kept.
#include "package/portable/install_names.h"
#include "package/portable/package_format.h"
#include "package/portable/record_lookup.h"

inline bool RecordIsProbed(const HashValueRecord& record, LeadByteTest isLeadByte) {
    return RecordPathTerminated(record) && IsContainedName(record.path, isLeadByte);
}
