// Shows the progress dialog as it looks in the middle of a run, for screenshots:
// the status of the third entry, the file bar at 60 %, the total bar at 3 of 6.
//   dialog-preview MARKER
// Writes "X Y WIDTH HEIGHT" (the dialog on the screen) into MARKER once the dialog
// is painted, then stays up until MARKER is deleted or a minute has passed.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "ui/message_pump.h"
#include "ui/monitor_list.h"
#include "ui/progress_controls.h"
#include "ui/progress_dialog.h"

namespace {

constexpr DWORD LONGEST_WAIT_MS = 60000;
constexpr DWORD POLL_MS = 100;
constexpr uint32_t PERCENT_OF_FILE = 60;
constexpr uint32_t ENTRY_COUNT = 6;
constexpr uint32_t ENTRIES_DONE = 3;

void FillControls() {
    const ProgressControls controls = FetchProgressControls();
    SetUpProgress(controls, ENTRY_COUNT);
    BeginEntry(controls, "DATA01.arc");
    SetFileProgress(controls, PERCENT_OF_FILE, 100);
    SetEntriesDone(controls, ENTRIES_DONE);
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
    if (!CreateProgressDialog(GetModuleHandleA(nullptr))) return 1;
    const HWND dialog = progressDialogHandle;
    FillControls();
    EnumerateMonitors();
    ShowProgressDialog(SW_SHOWNORMAL);
    SetForegroundWindow(dialog);  // an active caption, as the user sees it
    UpdateWindow(dialog);
    PumpMessages();
    if (!WriteMarker(argv[1], dialog)) return 1;

    for (DWORD waited = 0; waited < LONGEST_WAIT_MS && progressDialogHandle; waited += POLL_MS) {
        if (GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, POLL_MS, QS_ALLINPUT);
        PumpMessages();
    }
    DestroyProgressDialog();
    FreeMonitorList();
    return 0;
}
