#include "ui/progress_dialog.h"

#include <commctrl.h>

#include "ui/portable/texts.h"
#include "ui/resource_ids.h"

HWND progressDialogHandle = nullptr;
int cancelRequested = 0;
int abortRequested = 0;

namespace {

constexpr UINT CONFIRMATION_FLAGS = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;

void OnAbortClick(HWND dialog) {
    if (cancelRequested) return;
    if (MessageBoxA(dialog, TEXT_ABORT_CONFIRMATION, TEXT_PROGRAM_TITLE, CONFIRMATION_FLAGS) != IDYES) return;
    cancelRequested = 1;
    if (HWND button = GetDlgItem(dialog, IDC_ABORT)) EnableWindow(button, FALSE);
}

}  // namespace

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_CLOSE:
        abortRequested = 1;
        DestroyWindow(progressDialogHandle);
        progressDialogHandle = nullptr;
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDC_ABORT || HIWORD(wParam) != BN_CLICKED) return FALSE;
        OnAbortClick(dialog);
        return TRUE;
    case WM_SYSCOMMAND:
        // Alt+F4 arrives as SC_CLOSE: the dialog can only be closed by WM_CLOSE.
        return (wParam & 0xFFF0) == SC_CLOSE ? TRUE : FALSE;
    default:
        return FALSE;
    }
}

bool RegisterProgressBarClass() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    return InitCommonControlsEx(&controls) != FALSE;
}
