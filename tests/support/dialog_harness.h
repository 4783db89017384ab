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

void ResetDialogState();

// Handles whatever the window manager left queued (paints, activation), so a test
// starts from an empty queue. Dispatched rather than dropped: a dropped WM_PAINT
// would come back at once.
void HandleQueuedMessages();

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

    int Count(HWND window, UINT message, WPARAM wParam) const;

    std::vector<SeenMessage> seen;

private:
    static LRESULT CALLBACK OnSent(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK OnPosted(int code, WPARAM wParam, LPARAM lParam);

    static MessageRecorder* current;
    ThreadHook sentHook{WH_CALLWNDPROC, OnSent};
    ThreadHook postedHook{WH_GETMESSAGE, OnPosted};
};

// The dialog as the entry program makes it, from the template linked into the
// test program: created hidden, stored in progressDialogHandle, then shown;
// `activate` brings it to the front as a freshly started program is. The flags
// and this thread's queue are clean when it is handed out.
HWND OpenProgressDialog(bool activate = false);

// Destroys the dialog unless the run already did, and leaves flags and queue clean.
void CloseProgressDialog(HWND dialog);

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
