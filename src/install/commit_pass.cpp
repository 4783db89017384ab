#include "install/commit_pass.h"

#include "install/install_paths.h"
#include "install/installed_list.h"
#include "install/link_guard.h"
#include "install/uninstall_list.h"
#include "package/lower_case.h"
#include "package/portable/install_names.h"

namespace {

// Renames "<name>.tmp" onto "<name>". A name that could lead outside the folder,
// runs through a linked folder or does not fit a path is a failed rename.
bool MoveIntoPlace(const char* folder, const char* name) {
    char temporaryPath[MAX_PATH];
    char finalPath[MAX_PATH];
    if (!IsContainedName(name, IsAnsiLeadByte) || PassesThroughLinkedFolder(folder, name) ||
        !FormatTemporaryPath(temporaryPath, folder, name) || !FormatInstallPath(finalPath, folder, name)) {
        return false;
    }
    if (MoveFileExA(temporaryPath, finalPath, MOVEFILE_REPLACE_EXISTING)) return true;
    // A read-only target refuses the rename: clear its attributes and try once
    // more. Not done up front, and only for a plain file, since through a link
    // planted at the name the reset would reach what it points to, which the
    // rename itself never touches.
    return ClearAttributesOfPlainFile(finalPath) &&
           MoveFileExA(temporaryPath, finalPath, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

}  // namespace

UpdateResult CommitPass(const char* installFolder, const char* const* installNames, uint32_t count) {
    for (uint32_t j = 0; j < count; ++j) {
        if (installNames[j] == nullptr) continue;
        if (!MoveIntoPlace(installFolder, installNames[j])) return UPDATE_E_IO;
    }
    PruneHashValueList(installFolder);
    return UpdateUninstallList(installFolder, installNames) ? UPDATE_OK : UPDATE_E_UNINSTALL_LIST;
}
