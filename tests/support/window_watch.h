#pragma once
// Drives a started program through its windows the way a user would: finds its
// message boxes and progress dialog, records what they show and answers them.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "support/process_start.h"
#include "support/window_names.h"
#include "ui/resource_ids.h"

namespace e2e {

// Dialog-manager ids of a message box's parts.
constexpr int MESSAGE_BOX_TEXT_ID = 0xFFFF;
constexpr char DIALOG_CLASS[] = "#32770";

enum class WindowKind { MessageBox, ProgressDialog, Other };

struct SeenWindow {
    HWND handle = nullptr;
    WindowKind kind = WindowKind::Other;
    std::string title;  // ANSI (Shift-JIS) bytes
    std::string text;   // a box's message; the dialog's status line
    UINT icon = 0;      // MB_ICONINFORMATION, MB_ICONWARNING, MB_ICONQUESTION; 0 when unknown
    int defaultButton = 0;
    std::vector<int> buttons;
    bool owned = false;  // has an owner window (the abort confirmation has the dialog)
    RECT rect = {};      // screen position when first seen
};

enum class Reply { Wait, Yes, No, Ok, Abort, Close };

struct RunRecord {
    bool started = false;
    bool finished = false;
    DWORD exitCode = 0;
    std::vector<SeenWindow> windows;  // in order of appearance

    std::vector<SeenWindow> Boxes() const {
        std::vector<SeenWindow> boxes;
        for (const SeenWindow& w : windows)
            if (w.kind == WindowKind::MessageBox) boxes.push_back(w);
        return boxes;
    }
    bool SawProgressDialog() const {
        for (const SeenWindow& w : windows)
            if (w.kind == WindowKind::ProgressDialog) return true;
        return false;
    }
};

using testing_support::ClassOf;
using testing_support::WindowText;

// The visible dialog-class windows of a process: its message boxes and its progress dialog.
std::vector<HWND> VisibleDialogsOf(DWORD processId);

using Responder = std::function<Reply(const SeenWindow&)>;

// Starts `program`, answers each of its visible dialogs once as `respond` says,
// and waits for it to end. A program still running after `timeoutMs` is ended.
RunRecord RunProgram(const std::string& program, const Responder& respond, DWORD timeoutMs = 120000);

}  // namespace e2e
