#pragma once
// The rectangles of the display monitors, and the dialog's placement from monitor 0.
#include <windows.h>

struct MonitorNode {
    int index;  // enumeration order: 0 for the first node, then the tail's index + 1
    RECT rect;  // virtual-screen coordinates, as EnumDisplayMonitors reports them
    MonitorNode* next;
};

extern MonitorNode* monitorListHead;
extern MonitorNode* monitorListTail;

// Fills the list with every monitor; the result of EnumDisplayMonitors.
BOOL EnumerateMonitors();

// Appends one node for `rect`. FALSE (stopping the enumeration) when no node
// could be allocated.
BOOL CALLBACK MonitorEnumProc(HMONITOR monitor, HDC context, LPRECT rect, LPARAM data);

// Copies the rectangle of the node numbered `index`; 0 (rect untouched) when none.
int FindMonitorRect(RECT* rect, int index);

void FreeMonitorList();

// Where a window of `window`'s size goes on a monitor of `monitor`'s size: half
// of each difference, truncated toward zero, relative to the virtual-screen origin.
POINT CenteredPosition(const RECT& monitor, const RECT& window);

// Moves the window to CenteredPosition on monitor 0. Without a monitor 0 the
// window stays where it is.
void CenterOnFirstMonitor(HWND window);
