#include "ui/progress_controls.h"

#include <commctrl.h>

#include <cstdio>

#include "ui/monitor_list.h"
#include "ui/portable/texts.h"
#include "ui/progress_dialog.h"
#include "ui/resource_ids.h"

namespace {

void SetBar(HWND bar, uint32_t position) {
    if (bar) SendMessageA(bar, PBM_SETPOS, position, 0);
}

void SetUpBar(HWND bar, uint32_t high) {
    if (!bar) return;
    SendMessageA(bar, PBM_SETRANGE32, 0, static_cast<LPARAM>(high));
    SendMessageA(bar, PBM_SETPOS, 0, 0);
}

}  // namespace

ProgressControls FetchProgressControls() {
    ProgressControls controls;
    controls.status = GetDlgItem(progressDialogHandle, IDC_STATUS);
    controls.fileBar = GetDlgItem(progressDialogHandle, IDC_FILE_PROGRESS);
    controls.totalBar = GetDlgItem(progressDialogHandle, IDC_TOTAL_PROGRESS);
    return controls;
}

void SetUpProgress(const ProgressControls& controls, uint32_t entryCount) {
    SetUpBar(controls.fileBar, FILE_BAR_RANGE);
    SetUpBar(controls.totalBar, entryCount);
}

bool BeginEntry(const ProgressControls& controls, const char* installName) {
    if (controls.status) {
        char text[MAX_PATH];
        const int length = std::snprintf(text, sizeof text, TEXT_INSTALLING_FORMAT, installName);
        if (length < 0 || length >= static_cast<int>(sizeof text)) return false;
        SetWindowTextA(controls.status, text);
    }
    SetBar(controls.fileBar, 0);
    return true;
}

// The product needs 64 bits as soon as an entry exceeds 64 KiB.
void SetFileProgress(const ProgressControls& controls, uint32_t done, uint32_t size) {
    SetBar(controls.fileBar, static_cast<uint32_t>(uint64_t{done} * FILE_BAR_RANGE / size));
}

void SetEntriesDone(const ProgressControls& controls, uint32_t entriesDone) { SetBar(controls.totalBar, entriesDone); }

bool CreateProgressDialog(HINSTANCE instance) {
    RegisterProgressBarClass();
    progressDialogHandle =
        CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ProgressDialogProc, 0);
    return progressDialogHandle != nullptr;
}

void ShowProgressDialog(int showCommand) {
    SetWindowTextA(progressDialogHandle, TEXT_PROGRAM_TITLE);
    CenterOnFirstMonitor(progressDialogHandle);
    ShowWindow(progressDialogHandle, showCommand);
}

void DestroyProgressDialog() {
    if (progressDialogHandle) DestroyWindow(progressDialogHandle);
    progressDialogHandle = nullptr;
}
