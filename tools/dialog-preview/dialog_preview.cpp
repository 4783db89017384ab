// Shows the progress dialog as it looks in the middle of a run, for screenshots:
// the status of the third entry, the file bar at 60 %, the total bar at 3 of 6.
//   dialog-preview MARKER
// Writes "X Y WIDTH HEIGHT" (the dialog on the screen) into MARKER once the dialog
// is painted, then stays up until MARKER is deleted or a minute has passed.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "ui/progress_dialog.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"

namespace {

constexpr DWORD LONGEST_WAIT_MS = 60000;
constexpr DWORD POLL_MS = 100;
constexpr int FILE_RANGE = 0xFFFF;
constexpr int FILE_POSITION = FILE_RANGE * 60 / 100;
constexpr int ENTRY_COUNT = 6;
constexpr int ENTRIES_DONE = 3;

void HandleWaitingMessages(HWND dialog) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (IsDialogMessageA(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void FillControls(HWND dialog) {
    char status[MAX_PATH];
    snprintf(status, sizeof status, TEXT_INSTALLING_FORMAT, "DATA01.arc");
    SetWindowTextA(GetDlgItem(dialog, IDC_STATUS), status);
    HWND file = GetDlgItem(dialog, IDC_FILE_PROGRESS);
    SendMessageA(file, PBM_SETRANGE32, 0, FILE_RANGE);
    SendMessageA(file, PBM_SETPOS, FILE_POSITION, 0);
    HWND total = GetDlgItem(dialog, IDC_TOTAL_PROGRESS);
    SendMessageA(total, PBM_SETRANGE32, 0, ENTRY_COUNT);
    SendMessageA(total, PBM_SETPOS, ENTRIES_DONE, 0);
}

void CenterOnScreen(HWND dialog) {
    RECT box;
    GetWindowRect(dialog, &box);
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

bool WriteMarker(const char* marker, HWND dialog) {
    RECT box;
    GetWindowRect(dialog, &box);
    FILE* out = fopen(marker, "w");
    if (!out) return false;
    fprintf(out, "%ld %ld %ld %ld\n", box.left, box.top, box.right - box.left, box.bottom - box.top);
    return fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: dialog-preview MARKER\n");
        return 2;
    }
    if (!RegisterProgressBarClass()) return 1;
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr,
                                     ProgressDialogProc, 0);
    if (!dialog) return 1;
    progressDialogHandle = dialog;
    SetWindowTextA(dialog, TEXT_PROGRAM_TITLE);
    FillControls(dialog);
    CenterOnScreen(dialog);
    ShowWindow(dialog, SW_SHOWNORMAL);
    SetForegroundWindow(dialog);  // an active caption, as the user sees it
    UpdateWindow(dialog);
    HandleWaitingMessages(dialog);
    if (!WriteMarker(argv[1], dialog)) return 1;

    for (DWORD waited = 0; waited < LONGEST_WAIT_MS && progressDialogHandle; waited += POLL_MS) {
        if (GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, POLL_MS, QS_ALLINPUT);
        HandleWaitingMessages(dialog);
    }
    if (progressDialogHandle) DestroyWindow(progressDialogHandle);
    return 0;
}
