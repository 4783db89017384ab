#include "install/install_paths.h"

#include <cstdio>

namespace {

bool FormatChecked(char (&out)[MAX_PATH], const char* folder, const char* name, const char* suffix) {
    const int length = std::snprintf(out, MAX_PATH, "%s\\%s%s", folder, name, suffix);
    if (length < 0 || length >= MAX_PATH) {
        out[0] = '\0';
        return false;
    }
    return true;
}

}  // namespace

bool FormatInstallPath(char (&out)[MAX_PATH], const char* folder, const char* name) {
    return FormatChecked(out, folder, name, "");
}

bool FormatTemporaryPath(char (&out)[MAX_PATH], const char* folder, const char* name) {
    return FormatChecked(out, folder, name, TEMPORARY_SUFFIX);
}
