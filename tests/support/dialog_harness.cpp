#include "support/dialog_harness.h"

namespace testing_support {

void ResetDialogState() {
    progressDialogHandle = nullptr;
    cancelRequested = 0;
    abortRequested = 0;
}

void HandleQueuedMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

MessageRecorder* MessageRecorder::current = nullptr;

int MessageRecorder::Count(HWND window, UINT message, WPARAM wParam) const {
    int count = 0;
    for (const SeenMessage& m : seen) count += m.window == window && m.message == message && m.wParam == wParam;
    return count;
}

LRESULT CALLBACK MessageRecorder::OnSent(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && current) {
        const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
        current->seen.push_back({m->hwnd, m->message, m->wParam});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK MessageRecorder::OnPosted(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE && current) {
        const MSG* m = reinterpret_cast<const MSG*>(lParam);
        current->seen.push_back({m->hwnd, m->message, m->wParam});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

HWND OpenProgressDialog(bool activate) {
    ResetDialogState();
    HandleQueuedMessages();
    if (!CreateProgressDialog(GetModuleHandleA(nullptr))) return nullptr;
    HWND dialog = progressDialogHandle;
    ShowWindow(dialog, activate ? SW_SHOWNORMAL : SW_SHOWNA);
    if (activate) SetForegroundWindow(dialog);
    HandleQueuedMessages();
    return dialog;
}

void CloseProgressDialog(HWND dialog) {
    if (dialog && IsWindow(dialog)) DestroyWindow(dialog);
    ResetDialogState();
    HandleQueuedMessages();
}

}  // namespace testing_support
