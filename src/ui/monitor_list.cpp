#include "ui/monitor_list.h"

#include <new>

MonitorNode* monitorListHead = nullptr;
MonitorNode* monitorListTail = nullptr;

BOOL EnumerateMonitors() { return EnumDisplayMonitors(nullptr, nullptr, MonitorEnumProc, 0); }

BOOL CALLBACK MonitorEnumProc(HMONITOR, HDC, LPRECT rect, LPARAM) {
    // No exception may cross the system's callback: a failed allocation stops the walk.
    MonitorNode* node = new (std::nothrow) MonitorNode{0, *rect, nullptr};
    if (!node) return FALSE;
    if (monitorListTail) {
        node->index = monitorListTail->index + 1;
        monitorListTail->next = node;
    } else {
        monitorListHead = node;
    }
    monitorListTail = node;
    return TRUE;
}

int FindMonitorRect(RECT* rect, int index) {
    for (const MonitorNode* node = monitorListHead; node; node = node->next) {
        if (node->index != index) continue;
        *rect = node->rect;
        return 1;
    }
    return 0;
}

void FreeMonitorList() {
    while (monitorListHead) {
        MonitorNode* node = monitorListHead;
        monitorListHead = node->next;
        delete node;
    }
    monitorListTail = nullptr;
}

POINT CenteredPosition(const RECT& monitor, const RECT& window) {
    // C++ integer division truncates toward zero: -201 / 2 is -100.
    const LONG x = ((monitor.right - monitor.left) - (window.right - window.left)) / 2;
    const LONG y = ((monitor.bottom - monitor.top) - (window.bottom - window.top)) / 2;
    return POINT{x, y};
}

void CenterOnFirstMonitor(HWND window) {
    RECT windowRect;
    RECT monitorRect;
    if (!GetWindowRect(window, &windowRect)) return;
    if (!FindMonitorRect(&monitorRect, 0)) return;
    const POINT position = CenteredPosition(monitorRect, windowRect);
    SetWindowPos(window, HWND_TOP, position.x, position.y, 0, 0, SWP_NOSIZE);
}
