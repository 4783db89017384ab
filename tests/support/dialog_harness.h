#pragma once
// The real progress dialog for tests: created from the linked template, the
// process-wide flags reset and the queue handled around each test, and the
// messages it receives recorded. Its confirmation box is answered by BoxAnswerer.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "support/box_answerer.h"
#include "ui/progress_controls.h"
#include "ui/progress_dialog.h"
#include "ui/resource_ids.h"

namespace testing_support {

inline void ResetDialogState() {
    progressDialogHandle = nullptr;
    cancelRequested = 0;
    abortRequested = 0;
}

// Handles whatever the window manager left queued (paints, activation), so a test
// starts from an empty queue. Dispatched rather than dropped: a dropped WM_PAINT
// would come back at once.
inline void HandleQueuedMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// One message seen by the window manager on this thread: sent ones through a
// WH_CALLWNDPROC hook, posted ones as they leave the queue (WH_GETMESSAGE).
struct SeenMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
};

class MessageRecorder {
public:
    MessageRecorder() { current = this; }
    ~MessageRecorder() { current = nullptr; }

    bool Installed() const { return sentHook.Installed() && postedHook.Installed(); }

    int Count(HWND window, UINT message, WPARAM wParam) const {
        int count = 0;
        for (const SeenMessage& m : seen) count += m.window == window && m.message == message && m.wParam == wParam;
        return count;
    }

    std::vector<SeenMessage> seen;

private:
    static LRESULT CALLBACK OnSent(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HC_ACTION && current) {
            const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
            current->seen.push_back({m->hwnd, m->message, m->wParam});
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static LRESULT CALLBACK OnPosted(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HC_ACTION && wParam == PM_REMOVE && current) {
            const MSG* m = reinterpret_cast<const MSG*>(lParam);
            current->seen.push_back({m->hwnd, m->message, m->wParam});
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline MessageRecorder* current = nullptr;
    ThreadHook sentHook{WH_CALLWNDPROC, OnSent};
    ThreadHook postedHook{WH_GETMESSAGE, OnPosted};
};

// The dialog as the entry program makes it, from the template linked into the
// test program: created hidden, stored in progressDialogHandle, then shown;
// `activate` brings it to the front as a freshly started program is. The flags
// and this thread's queue are clean when it is handed out.
inline HWND OpenProgressDialog(bool activate = false) {
    ResetDialogState();
    HandleQueuedMessages();
    if (!CreateProgressDialog(GetModuleHandleA(nullptr))) return nullptr;
    HWND dialog = progressDialogHandle;
    ShowWindow(dialog, activate ? SW_SHOWNORMAL : SW_SHOWNA);
    if (activate) SetForegroundWindow(dialog);
    HandleQueuedMessages();
    return dialog;
}

// Destroys the dialog unless the run already did, and leaves flags and queue clean.
inline void CloseProgressDialog(HWND dialog) {
    if (dialog && IsWindow(dialog)) DestroyWindow(dialog);
    ResetDialogState();
    HandleQueuedMessages();
}

class ProgressDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialog = OpenProgressDialog(true);
        ASSERT_NE(dialog, nullptr) << "the dialog cannot be made from its template: " << GetLastError();
    }

    void TearDown() override { CloseProgressDialog(dialog); }

    HWND Control(int id) const { return GetDlgItem(dialog, id); }

    HWND dialog = nullptr;
};

}  // namespace testing_support
