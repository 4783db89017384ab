// Keeps a Wine desktop busy the way the updater does, for the soak run of
// scripts/test: round after round the real progress dialog is made, its bars are
// stepped through the message pump, its abort button is clicked and the
// confirmation answered No, a warning box owned by it is shown and answered, and
// the dialog is destroyed.
//   sundrift-gui-churn ROUNDS     exit 0 when every box of every round was answered
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include "support/dialog_harness.h"
#include "ui/message_pump.h"
#include "ui/portable/texts.h"
#include "ui/resource_ids.h"

namespace {

constexpr int STEPS = 64;
constexpr int FILE_BAR_TOP = 0xFFFF;

bool Round(testing_support::BoxAnswerer& answerer) {
    HWND dialog = testing_support::OpenProgressDialog(true);
    if (!dialog) return false;
    SetWindowTextA(dialog, TEXT_PROGRAM_TITLE);
    SendDlgItemMessageA(dialog, IDC_FILE_PROGRESS, PBM_SETRANGE32, 0, FILE_BAR_TOP);
    SendDlgItemMessageA(dialog, IDC_TOTAL_PROGRESS, PBM_SETRANGE32, 0, STEPS);
    for (int step = 0; step <= STEPS; ++step) {
        SetDlgItemTextA(dialog, IDC_STATUS, step % 2 ? "DATA01.arc" : "DATA02.arc");
        SendDlgItemMessageA(dialog, IDC_FILE_PROGRESS, PBM_SETPOS, step * (FILE_BAR_TOP / STEPS), 0);
        SendDlgItemMessageA(dialog, IDC_TOTAL_PROGRESS, PBM_SETPOS, step, 0);
        if (PumpMessages() != 0) return false;
    }
    const size_t before = answerer.boxes.size();
    SendMessageA(GetDlgItem(dialog, IDC_ABORT), BM_CLICK, 0, 0);
    MessageBoxA(dialog, TEXT_OTHER_FAILURE, TEXT_PROGRAM_TITLE, MB_OK | MB_ICONWARNING);
    const bool answered = answerer.boxes.size() == before + 2 && cancelRequested == 0;
    testing_support::CloseProgressDialog(dialog);
    return answered;
}

}  // namespace

int main(int argc, char** argv) {
    const long rounds = argc == 2 ? std::strtol(argv[1], nullptr, 10) : 0;
    if (rounds <= 0) {
        std::fprintf(stderr, "usage: sundrift-gui-churn ROUNDS\n");
        return 2;
    }
    testing_support::BoxAnswerer answerer(IDNO);
    for (long r = 0; r < rounds; ++r) {
        if (!Round(answerer)) {
            std::fprintf(stderr, "sundrift-gui-churn: round %ld went wrong\n", r);
            return 1;
        }
    }
    return 0;
}
