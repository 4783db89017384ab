#include "support/box_answerer.h"

#include "ui/resource_ids.h"

namespace testing_support {

BoxAnswerer* BoxAnswerer::current = nullptr;

BoxAnswerer::BoxAnswerer(int answer) : answer(answer) { current = this; }

BoxAnswerer::~BoxAnswerer() {
    for (const Pending& p : pending) KillTimer(nullptr, p.timer);
    current = nullptr;
}

BoxAnswerer::Pending* BoxAnswerer::PendingOf(HWND box) {
    for (Pending& p : current->pending)
        if (p.box == box) return &p;
    return nullptr;
}

void BoxAnswerer::Forget(HWND box) {
    for (auto it = current->pending.begin(); it != current->pending.end(); ++it) {
        if (it->box != box) continue;
        KillTimer(nullptr, it->timer);
        current->pending.erase(it);
        return;
    }
}

LRESULT CALLBACK BoxAnswerer::OnCbt(int code, WPARAM wParam, LPARAM lParam) {
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

LRESULT CALLBACK BoxAnswerer::OnSent(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* m = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && current && m->message == WM_SETFOCUS) {
        if (Pending* p = PendingOf(GetParent(m->hwnd))) p->focusedId = GetDlgCtrlID(m->hwnd);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL CALLBACK BoxAnswerer::CollectChild(HWND child, LPARAM lParam) {
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

SeenBox BoxAnswerer::Describe(HWND window, int focusedId) {
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

void CALLBACK BoxAnswerer::OnTimer(HWND, UINT, UINT_PTR timer, DWORD) {
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

}  // namespace testing_support
