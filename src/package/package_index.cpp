#include "package/package_index.h"

#include <cstring>
#include <new>

#include "package/portable/package_layout.h"

namespace {

constexpr char FALLBACK_MODULE_NAME[] = "setup.exe";

// Every stored name must end inside its field; one that does not marks a damaged package.
template <typename Entry>
bool NamesTerminated(const Entry* entries, uint32_t count) {
    for (uint32_t j = 0; j < count; ++j) {
        if (!NameTerminated(entries[j].name, sizeof entries[j].name)) return false;
    }
    return true;
}

template <typename Entry>
UpdateResult ReadEntries(FileHandle& image, uint32_t count, std::unique_ptr<Entry[]>& out) {
    std::unique_ptr<Entry[]> entries(new (std::nothrow) Entry[count ? count : 1]);
    if (!entries) return UPDATE_E_IO;
    const uint32_t bytes = count * static_cast<uint32_t>(sizeof(Entry));
    if (image.Read(entries.get(), bytes) != bytes) return UPDATE_E_CORRUPT;
    if (!NamesTerminated(entries.get(), count)) return UPDATE_E_CORRUPT;
    out = std::move(entries);
    return UPDATE_OK;
}

}  // namespace

UpdateResult LoadPackageIndexFromFile(const char* path, FileHandle& image, PackageIndex& index) {
    index = PackageIndex{};
    // Each step is checked where it happens: a read after a failed open or seek
    // would take another file's bytes, or the program's own, for the header.
    if (!image.OpenRead(path) || image.Size() < PACKAGE_OFFSET || !image.Seek(PACKAGE_OFFSET)) return UPDATE_E_CORRUPT;

    PackageHeader header;
    if (image.Read(&header, sizeof header) != sizeof header) return UPDATE_E_CORRUPT;
    if (header.count > PACKAGE_MAX_ENTRIES) return UPDATE_E_TOO_MANY_ENTRIES;

    PackageIndex loaded;
    loaded.longEntries = UsesLongEntries(header);
    loaded.count = header.count;
    const UpdateResult read = loaded.longEntries
        ? ReadEntries(image, header.count, loaded.longEntryArray)
        : ReadEntries(image, header.count, loaded.shortEntryArray);
    if (read != UPDATE_OK) return read;

    loaded.dataBase = DataBaseOf(header.count, loaded.longEntries);
    index = std::move(loaded);
    return UPDATE_OK;
}

UpdateResult LoadPackageIndex(FileHandle& image, PackageIndex& index) {
    char path[MAX_PATH] = {};
    std::memcpy(path, FALLBACK_MODULE_NAME, sizeof FALLBACK_MODULE_NAME);
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    path[MAX_PATH - 1] = '\0';
    return LoadPackageIndexFromFile(path, image, index);
}

uint32_t EntryPosition(const PackageIndex& index, uint32_t j) {
    return EntryPositionOf(index.dataBase, EntryOffset(index, j));
}

const char* EntryName(const PackageIndex& index, uint32_t j) {
    return index.longEntries ? index.longEntryArray[j].name : index.shortEntryArray[j].name;
}

uint32_t EntrySize(const PackageIndex& index, uint32_t j) {
    return index.longEntries ? index.longEntryArray[j].size : index.shortEntryArray[j].size;
}

uint32_t EntryOffset(const PackageIndex& index, uint32_t j) {
    return index.longEntries ? index.longEntryArray[j].offset : index.shortEntryArray[j].offset;
}
