#include "install/installed_list.h"

#include <memory>
#include <new>

#include "install/install_paths.h"
#include "install/list_file.h"
#include "install/portable/record_probe.h"
#include "package/lower_case.h"
#include "package/portable/hash_value_bytes.h"
#include "package/portable/install_names.h"
#include "package/portable/package_format.h"

namespace {

// Reads the header and every record it announces, the magic untested. False,
// before allocating, when the file cannot hold that many records.
bool ReadInstalledList(const char* path, HashValueHeader& header, std::unique_ptr<HashValueRecord[]>& records) {
    FileHandle file;
    uint32_t size = 0;
    if (!OpenListFile(file, path, size)) return false;
    uint8_t head[sizeof header];
    const uint32_t got = file.Read(head, sizeof head);
    if (ReadListFileHeader(head, got < sizeof head ? got : size, MAGIC_IGNORED, header) != LIST_LOADED) return false;
    records.reset(new (std::nothrow) HashValueRecord[header.count]);
    if (!records) return false;
    const uint32_t length = RecordBytes(header.count);
    return file.Read(records.get(), length) == length;
}

// A record counts as missing only when its path was probed inside the folder
// and nothing, file or folder, stands there.
bool RecordPresent(const char* folder, const HashValueRecord& record) {
    if (!RecordIsProbed(record, IsAnsiLeadByte)) return true;
    char probePath[MAX_PATH];
    if (!FormatInstallPath(probePath, folder, record.path)) return true;
    return GetFileAttributesA(probePath) != INVALID_FILE_ATTRIBUTES;
}

// Moves the present records to the front, in their order; returns their number.
uint32_t KeepPresentRecords(const char* folder, HashValueRecord* records, uint32_t count) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!RecordPresent(folder, records[i])) continue;
        if (kept != i) records[kept] = records[i];
        ++kept;
    }
    return kept;
}

}  // namespace

void PruneHashValueList(const char* installFolder) {
    char listPath[MAX_PATH];
    char scratchPath[MAX_PATH];
    if (!FormatInstallPath(listPath, installFolder, INSTALLED_LIST_NAME) ||
        !FormatInstallPath(scratchPath, installFolder, INSTALLED_LIST_SCRATCH_NAME)) {
        return;
    }
    HashValueHeader header;
    std::unique_ptr<HashValueRecord[]> records;
    if (!ReadInstalledList(listPath, header, records)) return;

    header.count = KeepPresentRecords(installFolder, records.get(), header.count);
    ReplaceListFile(listPath, scratchPath, &header, sizeof header, records.get(), RecordBytes(header.count));
}
