#include "ui/message_pump.h"

#include <windows.h>

#include "ui/progress_dialog.h"

int PumpOneMessage() {
    MSG msg;
    const BOOL taken = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
    if (!taken) return 0;
    if (msg.message == WM_QUIT) throw 0;
    if (progressDialogHandle && IsDialogMessageA(progressDialogHandle, &msg)) return taken;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return taken;
}

int PumpMessages() {
    try {
        while (PumpOneMessage()) {
        }
        return 0;
    } catch (int) {
        return 1;
    } catch (...) {
        return 1;
    }
}
