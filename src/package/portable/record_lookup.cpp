#include "package/portable/record_lookup.h"

#include <cstdio>
#include <cstring>

bool IsListEntryName(const char* storedName, const NameRules& rules) {
    char lowered[UPDATER_PATH_SIZE];
    return rules.loweredCopy(storedName, lowered, sizeof lowered) && std::strcmp(lowered, HASH_VALUE_LIST_NAME) == 0;
}

bool RecordPathTerminated(const HashValueRecord& record) {
    return std::memchr(record.path, 0, sizeof record.path) != nullptr;
}

int FindRecordIndex(const HashValueRecord* records, uint32_t count, const char* storedName, const NameRules& rules) {
    char loweredEntry[UPDATER_PATH_SIZE];
    if (!rules.loweredCopy(storedName, loweredEntry, sizeof loweredEntry)) return -1;
    for (uint32_t i = 0; i < count; ++i) {
        if (!RecordPathTerminated(records[i])) continue;
        const char* name;
        const char* extension;
        SplitLastComponent(records[i].path, rules.isLeadByte, &name, &extension);
        char component[UPDATER_PATH_SIZE];
        const int length = std::snprintf(component, sizeof component, "%.*s%s", static_cast<int>(extension - name),
                                         name, extension);
        if (length < 0 || static_cast<size_t>(length) >= sizeof component) continue;
        char lowered[UPDATER_PATH_SIZE];
        if (rules.loweredCopy(component, lowered, sizeof lowered) && std::strcmp(lowered, loweredEntry) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}
