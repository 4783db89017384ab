#include "support/window_watch.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <thread>

#include "ui/resource_ids.h"

namespace e2e {

// The icon of a box, as pixels read back from the screen: icons of other
// processes cannot be inspected by handle.
static std::vector<COLORREF> ScreenPixels(HWND window) {
    RECT r;
    if (!GetWindowRect(window, &r)) return {};
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return {};
    // Only trust the pixels when nothing else covers the control.
    const POINT centre{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    if (WindowFromPoint(centre) != window) return {};
    std::vector<COLORREF> pixels(static_cast<size_t>(width) * height);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    const int lines = GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (lines != height) return {};
    for (COLORREF& p : pixels) p &= 0xFFFFFF;
    return pixels;
}

static HWND IconControlOf(HWND box) {
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return child;
    }
    return nullptr;
}

// The icon's pixels once painting has reached the screen: two equal reads in a
// row that are not the bare control of one colour; empty when that never happens.
static std::vector<COLORREF> SettledIconPixels(HWND box) {
    HWND icon = IconControlOf(box);
    if (!icon) return {};
    std::vector<COLORREF> last;
    for (int attempt = 0; attempt < 250; ++attempt) {
        Sleep(20);
        std::vector<COLORREF> now = ScreenPixels(icon);
        const bool drawn = !now.empty() && std::count(now.begin(), now.end(), now[0]) != std::ptrdiff_t(now.size());
        if (drawn && now == last) return now;
        last = now;
    }
    return {};
}

static constexpr UINT STANDARD_ICONS[] = {MB_ICONINFORMATION, MB_ICONWARNING, MB_ICONQUESTION, MB_ICONERROR};

// What each standard icon looks like in a box of this desktop, read from boxes
// of our own before the program under test shows any (they would overlap).
static const std::vector<std::vector<COLORREF>>& ReferenceIcons() {
    static std::vector<std::vector<COLORREF>> references;
    if (!references.empty()) return references;
    for (UINT flag : STANDARD_ICONS) {
        char title[64];
        std::snprintf(title, sizeof title, "reference icon %u %lu", flag, GetCurrentProcessId());
        std::thread box([&] { MessageBoxA(nullptr, "reference", title, MB_OK | flag); });
        HWND found = nullptr;
        for (int i = 0; i < 500 && !found; ++i) {
            Sleep(10);
            found = FindWindowA(DIALOG_CLASS, title);
            if (found && !IsWindowVisible(found)) found = nullptr;
        }
        references.push_back(found ? SettledIconPixels(found) : std::vector<COLORREF>{});
        if (found) PostMessageA(found, WM_CLOSE, 0, 0);
        box.join();
    }
    return references;
}

// How long a box's icon may take to reach the screen before it counts as unknown.
static constexpr DWORD ICON_LIMIT_MS = 5000;

// The icon a box shows: its pixels read from the screen until they are one of the
// standard icons. Painting and its way to the screen happen in the other process
// at their own pace, so a read may still show the bare control; only a bound
// ends the wait, with 0 for an icon that never matched.
static UINT IdentifyIcon(HWND box) {
    HWND icon = IconControlOf(box);
    if (!icon) return 0;
    const std::vector<std::vector<COLORREF>>& references = ReferenceIcons();
    const DWORD start = GetTickCount();
    do {
        const std::vector<COLORREF> pixels = ScreenPixels(icon);
        for (size_t i = 0; i < references.size(); ++i) {
            if (!pixels.empty() && references[i] == pixels) return STANDARD_ICONS[i];
        }
        Sleep(10);
    } while (IsWindow(box) && GetTickCount() - start < ICON_LIMIT_MS);
    return 0;
}

static SeenWindow Describe(HWND window) {
    SeenWindow seen;
    seen.handle = window;
    seen.title = WindowText(window);
    seen.owned = GetWindow(window, GW_OWNER) != nullptr;
    GetWindowRect(window, &seen.rect);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) != "Button") continue;
        const int id = GetDlgCtrlID(child);
        seen.buttons.push_back(id);
        if ((GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) seen.defaultButton = id;
    }
    if (HWND text = GetDlgItem(window, MESSAGE_BOX_TEXT_ID)) {
        seen.kind = WindowKind::MessageBox;
        seen.text = WindowText(text);
        seen.icon = IdentifyIcon(window);
    } else if (GetDlgItem(window, IDC_ABORT) && GetDlgItem(window, IDC_TOTAL_PROGRESS)) {
        seen.kind = WindowKind::ProgressDialog;
        seen.text = WindowText(GetDlgItem(window, IDC_STATUS));
    }
    return seen;
}

static void Answer(const SeenWindow& window, Reply reply) {
    const auto click = [&](int id) {
        if (HWND button = GetDlgItem(window.handle, id)) PostMessageA(button, BM_CLICK, 0, 0);
    };
    switch (reply) {
    case Reply::Wait: break;
    case Reply::Yes: click(IDYES); break;
    case Reply::No: click(IDNO); break;
    case Reply::Ok: click(IDOK); break;
    case Reply::Abort: click(IDC_ABORT); break;
    case Reply::Close: PostMessageA(window.handle, WM_CLOSE, 0, 0); break;
    }
}

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectDialogs(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && ClassOf(window) == DIALOG_CLASS)
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleDialogsOf(DWORD processId) {
    WindowSearch search{processId, {}};
    EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

RunRecord RunProgram(const std::string& program, const Responder& respond, DWORD timeoutMs) {
    RunRecord record;
    ReferenceIcons();
    PROCESS_INFORMATION process;
    if (!testing_support::StartProgram(program, "\"" + program + "\"", process)) return record;
    record.started = true;
    std::set<HWND> answered;
    const DWORD start = GetTickCount();
    for (;;) {
        const bool ended = WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0;
        for (HWND window : ended ? std::vector<HWND>() : VisibleDialogsOf(process.dwProcessId)) {
            if (answered.count(window)) continue;
            const SeenWindow seen = Describe(window);
            record.windows.push_back(seen);
            answered.insert(window);
            Answer(seen, respond(seen));
        }
        // Handles of windows that are gone may come back for new windows.
        for (auto it = answered.begin(); it != answered.end();) it = IsWindow(*it) ? std::next(it) : answered.erase(it);
        if (ended) break;
        if (GetTickCount() - start > timeoutMs) {
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 5000);
            CloseHandle(process.hProcess);
            CloseHandle(process.hThread);
            return record;
        }
    }
    record.finished = true;
    GetExitCodeProcess(process.hProcess, &record.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return record;
}

}  // namespace e2e
