// The plain copy as a program of its own, started like the updater:
//   plain_copier PATCH.exe FOLDER TIME_FILE [--no-dialog]
// asks the updater's question, shows its progress dialog, copies the patch's
// entries into FOLDER with PlainCopy, destroys the dialog and shows the
// updater's success box, so that it can be timed from outside exactly as the
// updater is. Like the updater it flushes every file before the renames.
// TIME_FILE receives the seconds from before the dialog's creation to after its
// end. With --no-dialog there are no boxes and no dialog either.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "entry/outcome.h"
#include "plain_copy.h"
#include "ui/monitor_list.h"
#include "ui/portable/texts.h"
#include "ui/progress_controls.h"

namespace {

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Created, placed and shown as the updater shows it.
bool OpenProgressDialog() {
    if (!CreateProgressDialog(GetModuleHandleA(nullptr))) return false;
    EnumerateMonitors();
    ShowProgressDialog(SW_SHOWNORMAL);
    return true;
}

bool WriteSeconds(const char* path, double seconds) {
    FILE* out = std::fopen(path, "w");
    if (!out) return false;
    std::fprintf(out, "%.6f\n", seconds);
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool withDialog = !(argc == 5 && std::strcmp(argv[4], "--no-dialog") == 0);
    if (argc != 4 && withDialog) return 2;
    if (withDialog && !AskConsent()) return 5;
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (withDialog && !OpenProgressDialog()) return 3;
    CopyOptions options;
    options.flush = true;  // the updater flushes each file before its commit
    const bool copied = PlainCopy(argv[1], argv[2], FetchProgressControls(), options);
    DestroyProgressDialog();
    FreeMonitorList();
    QueryPerformanceCounter(&end);
    if (!copied) return 1;
    if (withDialog) ShowInformation(TEXT_SUCCESS);
    return WriteSeconds(argv[3], Seconds(start, end)) ? 0 : 4;
}
