#include "install/uninstall_list.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "install/install_paths.h"
#include "install/list_file.h"
#include "install/portable/uninstall_text.h"

static_assert(sizeof UNINSTALL_LIST_SCRATCH_NAME <= sizeof UNINSTALL_LIST_NAME,
              "a scratch path longer than the list's would not fit where the list's does");

namespace {

// Reads the list into `buffer` (UNINSTALL_LIST_BUFFER_SIZE bytes) as one
// NUL-terminated text and gives its length.
bool ReadListText(const char* path, char* buffer, uint32_t& length) {
    FileHandle file;
    uint32_t size = 0;
    if (!OpenListFile(file, path, size) || size > UNINSTALL_LIST_BUFFER_SIZE) return false;
    if (file.Read(buffer, size) != size || !UninstallTextLength(buffer, size, length)) return false;
    buffer[length] = '\0';
    return true;
}

}  // namespace

bool UpdateUninstallList(const char* installFolder, const char* const* installNames) {
    char listPath[MAX_PATH];
    char scratchPath[MAX_PATH];
    if (!FormatInstallPath(listPath, installFolder, UNINSTALL_LIST_NAME) ||
        !FormatInstallPath(scratchPath, installFolder, UNINSTALL_LIST_SCRATCH_NAME)) {
        return false;
    }
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[UNINSTALL_LIST_BUFFER_SIZE]);
    if (!buffer) return false;
    uint32_t length = 0;
    if (!ReadListText(listPath, buffer.get(), length)) return false;
    if (!AppendMissingNames(buffer.get(), length, installNames)) return false;
    return ReplaceListFile(listPath, scratchPath, buffer.get(), length + 1);
}
