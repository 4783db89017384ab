// The program: single instance, game lock-out, install folder, consent, the
// progress dialog around one update run, and the outcome as a message and exit code.
#include <windows.h>

#include <new>

#include "entry/install_folder.h"
#include "entry/outcome.h"
#include "entry/program_names.h"
#include "install/update_run.h"
#include "ui/monitor_list.h"
#include "ui/progress_dialog.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"

namespace {

constexpr UINT CONSENT_FLAGS = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;

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

// Running out of memory ends the run as an install failure, not as a crash.
UpdateResult RunGuarded(const char* installFolder) {
    try {
        return UpdateRun(installFolder);
    } catch (const std::bad_alloc&) {
        return UPDATE_E_IO;
    }
}

int RunUnderDialog(HINSTANCE instance, int showCommand, const char* installFolder) {
    RegisterProgressBarClass();
    progressDialogHandle =
        CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
    if (!progressDialogHandle) {
        ShowWarning(TEXT_DIALOG_FAILURE);
        return EXIT_NO_DIALOG;
    }
    EnumerateMonitors();
    SetWindowTextA(progressDialogHandle, TEXT_PROGRAM_TITLE);
    CenterOnFirstMonitor(progressDialogHandle);
    ShowWindow(progressDialogHandle, showCommand);

    const UpdateResult result = RunGuarded(installFolder);

    // WM_CLOSE destroys the dialog itself and clears the handle.
    if (progressDialogHandle) {
        DestroyWindow(progressDialogHandle);
        progressDialogHandle = nullptr;
    }
    ReportOutcome(result);
    FreeMonitorList();
    return static_cast<int>(result);
}

int RunWithGameLockedOut(HINSTANCE instance, int showCommand) {
    char installFolder[MAX_PATH];
    if (!ReadInstallFolder(installFolder, PUBLISHER_NAME, GAME_TITLE)) {
        ShowWarning(TEXT_NOT_INSTALLED);
        return EXIT_NOT_INSTALLED;
    }
    if (MessageBoxA(nullptr, TEXT_CONSENT, TEXT_PROGRAM_TITLE, CONSENT_FLAGS) != IDYES) return EXIT_DECLINED;
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
