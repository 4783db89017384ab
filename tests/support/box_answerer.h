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
    explicit BoxAnswerer(int answer);
    ~BoxAnswerer();

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

    static Pending* PendingOf(HWND box);
    static void Forget(HWND box);
    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK OnSent(int code, WPARAM wParam, LPARAM lParam);
    static BOOL CALLBACK CollectChild(HWND child, LPARAM lParam);
    static SeenBox Describe(HWND window, int focusedId);
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR timer, DWORD);

    static BoxAnswerer* current;
    std::vector<Pending> pending;
    ThreadHook cbtHook{WH_CBT, OnCbt};
    ThreadHook sentHook{WH_CALLWNDPROC, OnSent};
};

}  // namespace testing_support
