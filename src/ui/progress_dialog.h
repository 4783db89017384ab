#pragma once
// The modeless progress dialog and the process-wide state it shares with the run.
#include <windows.h>

// The dialog, or null when there is none.
extern HWND progressDialogHandle;
// Set when the user confirmed the abort button; never reset.
extern int cancelRequested;
// Set on WM_CLOSE, or by the run when the pump took a WM_QUIT; never reset.
extern int abortRequested;

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Makes the progress bar class available; call before creating the dialog.
bool RegisterProgressBarClass();
