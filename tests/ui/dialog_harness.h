#pragma once
// The real progress dialog for tests: created from the linked template, the
// process-wide flags reset around each test, the messages it receives recorded,
// and its confirmation box answered from inside the box's own modal loop.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

inline std::string WindowText(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

inline std::string ClassOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
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
    MessageRecorder() {
        current = this;
        sentHook = SetWindowsHookExA(WH_CALLWNDPROC, OnSent, nullptr, GetCurrentThreadId());
        postedHook = SetWindowsHookExA(WH_GETMESSAGE, OnPosted, nullptr, GetCurrentThreadId());
    }
    ~MessageRecorder() {
        UnhookWindowsHookEx(sentHook);
        UnhookWindowsHookEx(postedHook);
        current = nullptr;
    }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    bool Installed() const { return sentHook && postedHook; }

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
    HHOOK sentHook = nullptr;
    HHOOK postedHook = nullptr;
};

// What a confirmation box looked like when it was answered.
struct SeenBox {
    HWND owner = nullptr;
    std::string className;
    std::string caption;
    std::vector<std::string> texts;  // of its static controls
    bool questionIcon = false;
    int defaultId = 0;  // the button drawn as the default push button
    int focusedId = 0;
    bool hasYes = false;
    bool hasNo = false;
};

// Answers every message box the thread opens while it lives, owned or not (any
// dialog-class window without the progress dialog's abort button): a CBT hook
// notes the box when it is activated, and a zero-delay timer, run by the box's own
// modal loop once the box is up, records what the box shows and clicks the chosen
// button.
class BoxAnswerer {
public:
    explicit BoxAnswerer(int answer) : answer(answer) {
        current = this;
        hook = SetWindowsHookExA(WH_CBT, OnCbt, nullptr, GetCurrentThreadId());
    }
    ~BoxAnswerer() {
        UnhookWindowsHookEx(hook);
        current = nullptr;
    }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    bool Installed() const { return hook != nullptr; }

    int answer;
    std::vector<SeenBox> boxes;

private:
    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HCBT_ACTIVATE && current && !current->pendingBox) {
            HWND window = reinterpret_cast<HWND>(wParam);
            if (ClassOf(window) == "#32770" && !GetDlgItem(window, IDC_ABORT)) {
                current->pendingBox = window;
                SetTimer(nullptr, 0, 0, OnTimer);
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static BOOL CALLBACK CollectChild(HWND child, LPARAM lParam) {
        SeenBox* box = reinterpret_cast<SeenBox*>(lParam);
        const std::string className = ClassOf(child);
        if (_stricmp(className.c_str(), "Static") == 0) {
            const LONG style = GetWindowLongA(child, GWL_STYLE);
            if ((style & SS_TYPEMASK) == SS_ICON) {
                box->questionIcon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)) ==
                                    LoadIcon(nullptr, IDI_QUESTION);
            } else {
                box->texts.push_back(WindowText(child));
            }
        }
        return TRUE;
    }

    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
        KillTimer(nullptr, id);
        if (!current || !current->pendingBox) return;
        HWND window = current->pendingBox;
        current->pendingBox = nullptr;

        SeenBox box;
        box.owner = GetWindow(window, GW_OWNER);
        box.className = ClassOf(window);
        box.caption = WindowText(window);
        EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&box));
        for (int id : {IDYES, IDNO}) {
            HWND button = GetDlgItem(window, id);
            if (button && (GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) box.defaultId = id;
        }
        HWND focus = GetFocus();
        if (focus && GetParent(focus) == window) box.focusedId = GetDlgCtrlID(focus);
        box.hasYes = GetDlgItem(window, IDYES) != nullptr;
        box.hasNo = GetDlgItem(window, IDNO) != nullptr;
        current->boxes.push_back(box);

        if (HWND button = GetDlgItem(window, current->answer)) {
            SendMessageA(button, BM_CLICK, 0, 0);
        } else {
            EndDialog(window, current->answer);
        }
    }

    static inline BoxAnswerer* current = nullptr;
    HHOOK hook = nullptr;
    HWND pendingBox = nullptr;
};

// The dialog as the entry program makes it: hidden, stored in progressDialogHandle,
// then titled and shown. Flags and the queue are clean before and after each test.
class ProgressDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetDialogState();
        ASSERT_TRUE(RegisterProgressBarClass());
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr,
                                    ProgressDialogProc, 0);
        ASSERT_NE(dialog, nullptr) << "CreateDialogParamA failed: " << GetLastError();
        progressDialogHandle = dialog;
        ShowWindow(dialog, SW_SHOWNORMAL);
        SetForegroundWindow(dialog);
        HandleQueuedMessages();
    }

    void TearDown() override {
        if (IsWindow(dialog)) DestroyWindow(dialog);
        ResetDialogState();
        HandleQueuedMessages();
    }

    HWND Control(int id) const { return GetDlgItem(dialog, id); }

    HWND dialog = nullptr;
};

}  // namespace testing_support
