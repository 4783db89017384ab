// The program: single instance, game lock-out, install folder and consent, then
// the update run under its progress dialog; the exit code.
#include <windows.h>

#include "entry/install_folder.h"
#include "entry/outcome.h"
#include "entry/program_names.h"
#include "entry/run_under_dialog.h"
#include "ui/portable/texts.h"

namespace {

// Creates the named mutex owned by this thread. `existed` also covers a failed
// creation: either way another process holds the name.
HANDLE CreateOwnedMutex(const char* name, bool& existed) {
    SetLastError(ERROR_SUCCESS);
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
    existed = GetLastError() != ERROR_SUCCESS;
    return mutex;
}

void CloseIfSet(HANDLE handle) {
    if (handle) CloseHandle(handle);
}

int RunWithGameLockedOut(HINSTANCE instance, int showCommand) {
    char installFolder[MAX_PATH];
    if (!ReadInstallFolder(installFolder, PUBLISHER_NAME, GAME_TITLE)) {
        ShowWarning(TEXT_NOT_INSTALLED);
        return EXIT_NOT_INSTALLED;
    }
    if (!AskConsent()) return EXIT_DECLINED;
    return RunUnderDialog(instance, showCommand, installFolder);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    bool existed = false;
    HANDLE updaterMutex = CreateOwnedMutex(UPDATER_MUTEX_NAME, existed);
    if (existed) {
        CloseIfSet(updaterMutex);
        return EXIT_ALREADY_RUNNING;
    }
    HANDLE gameMutex = CreateOwnedMutex(GAME_MUTEX_NAME, existed);
    int result = EXIT_GAME_RUNNING;
    if (existed) {
        ShowWarning(TEXT_GAME_RUNNING);
    } else {
        result = RunWithGameLockedOut(instance, showCommand);
    }
    CloseIfSet(gameMutex);
    CloseIfSet(updaterMutex);
    return result;
}
