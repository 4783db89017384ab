#pragma once
// What a window says about itself (its text and its class, as ANSI Shift-JIS
// bytes), and a window-manager hook on this thread that lasts as long as its owner.
#include <windows.h>

#include <string>

namespace testing_support {

inline std::string WindowText(HWND window) {
    char text[1024] = "";
    if (window) GetWindowTextA(window, text, sizeof text);
    return text;
}

inline std::string ClassOf(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

class ThreadHook {
public:
    ThreadHook(int kind, HOOKPROC procedure)
        : hook(SetWindowsHookExA(kind, procedure, nullptr, GetCurrentThreadId())) {}
    ~ThreadHook() {
        if (hook) UnhookWindowsHookEx(hook);
    }
    ThreadHook(const ThreadHook&) = delete;
    ThreadHook& operator=(const ThreadHook&) = delete;

    bool Installed() const { return hook != nullptr; }

private:
    HHOOK hook;
};

}  // namespace testing_support
