#pragma once
// Answers the message boxes that this thread opens, from inside each box's own
// modal loop, and records what each box showed when it was answered.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "support/window_names.h"
#include "ui/resource_ids.h"

namespace testing_support {

// What a confirmation box looked like when it was answered.
struct SeenBox {
    HWND owner = nullptr;
    std::string className;
    std::string caption;
    std::vector<std::string> texts;  // of its static controls
    bool questionIcon = false;
    int defaultId = 0;  // the button drawn as the default push button
    int focusedId = 0;  // the control the box gave the keyboard focus
    bool hasYes = false;
    bool hasNo = false;
};

// How long a box may take to show itself and focus one of its controls before it
// is answered as it is (and the record shows what was missing).
constexpr DWORD BOX_READY_LIMIT_MS = 10000;

// A box is a top-level "#32770" window, owned or not (the outcome's boxes have no
// owner), noted once when it is created, so that one box is answered once however
// often the window manager activates it; the progress dialog, also such a window,
// is let go once its controls show what it is. The
// control it focuses is noted from the WM_SETFOCUS that control receives: what
// GetFocus() says at a given moment depends on whether the box is active just
// then. A timer, run by the box's own modal loop, answers the box once it is
// visible and has focused a control.
class BoxAnswerer {
public:
    explicit BoxAnswerer(int answer) : answer(answer) { current = this; }
    ~BoxAnswerer() {
        for (const Pending& p : pending) KillTimer(nullptr, p.timer);
        current = nullptr;
    }

    bool Installed() const { return cbtHook.Installed() && sentHook.Installed(); }

    int answer;
    std::vector<SeenBox> boxes;
    // Called right after a box was answered, still inside its modal loop.
    std::function<void(HWND box)> onAnswered;

private:
    struct Pending {
        HWND box;
        UINT_PTR timer;
        DWORD since;
        int focusedId;
    };

    static Pending* PendingOf(HWND box) {
        for (Pending& p : current->pending)
            if (p.box == box) return &p;
        return nullptr;
    }

    static void Forget(HWND box) {
        for (auto it = current->pending.begin(); it != current->pending.end(); ++it) {
            if (it->box != box) continue;
            KillTimer(nullptr, it->timer);
            current->pending.erase(it);
            return;
        }
    }

    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam) {
        HWND window = reinterpret_cast<HWND>(wParam);
        if (current && code == HCBT_CREATEWND) {
            const CBT_CREATEWNDA* create = reinterpret_cast<const CBT_CREATEWNDA*>(lParam);
            if (!(create->lpcs->style & WS_CHILD) && ClassOf(window) == "#32770") {
                const UINT_PTR timer = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, OnTimer);
                if (timer) current->pending.push_back({window, timer, GetTickCount(), 0});
            }
        } else if (current && code == HCBT_DESTROYWND) {
            Forget(window);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static LRESULT CALLBACK OnSent(int code, WPARAM wParam, LPARAM lParam) {
        const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && current && m->message == WM_SETFOCUS) {
            if (Pending* p = PendingOf(GetParent(m->hwnd))) p->focusedId = GetDlgCtrlID(m->hwnd);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static BOOL CALLBACK CollectChild(HWND child, LPARAM lParam) {
        SeenBox* box = reinterpret_cast<SeenBox*>(lParam);
        if (_stricmp(ClassOf(child).c_str(), "Static") != 0) return TRUE;
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            box->questionIcon =
                reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)) == LoadIcon(nullptr, IDI_QUESTION);
        } else {
            box->texts.push_back(WindowText(child));
        }
        return TRUE;
    }

    static SeenBox Describe(HWND window, int focusedId) {
        SeenBox box;
        box.owner = GetWindow(window, GW_OWNER);
        box.className = ClassOf(window);
        box.caption = WindowText(window);
        EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&box));
        for (int id : {IDYES, IDNO}) {
            HWND button = GetDlgItem(window, id);
            if (button && (GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) box.defaultId = id;
        }
        box.focusedId = focusedId;
        box.hasYes = GetDlgItem(window, IDYES) != nullptr;
        box.hasNo = GetDlgItem(window, IDNO) != nullptr;
        return box;
    }

    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR timer, DWORD) {
        if (!current) return;
        Pending* p = nullptr;
        for (Pending& candidate : current->pending)
            if (candidate.timer == timer) p = &candidate;
        if (!p) return;
        if (GetDlgItem(p->box, IDC_ABORT)) {
            Forget(p->box);
            return;
        }
        const bool ready = IsWindowVisible(p->box) && p->focusedId != 0;
        if (!ready && GetTickCount() - p->since < BOX_READY_LIMIT_MS) return;
        const HWND window = p->box;
        current->boxes.push_back(Describe(window, p->focusedId));
        Forget(window);
        if (HWND button = GetDlgItem(window, current->answer)) {
            SendMessageA(button, BM_CLICK, 0, 0);
        } else {
            EndDialog(window, current->answer);
        }
        if (current->onAnswered) current->onAnswered(window);
    }

    static inline BoxAnswerer* current = nullptr;
    std::vector<Pending> pending;
    ThreadHook cbtHook{WH_CBT, OnCbt};
    ThreadHook sentHook{WH_CALLWNDPROC, OnSent};
};

}  // namespace testing_support
