// The progress dialog made from its template, driven through the window manager
// and the message pump as the update run drives it.
#include "ui/progress_dialog.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "support/dialog_harness.h"
#include "ui/message_pump.h"
#include "ui/portable/texts.h"
#include "ui/resource_ids.h"

namespace {

using testing_support::BoxAnswerer;
using testing_support::ClassOf;
using testing_support::MessageRecorder;
using testing_support::ProgressDialogTest;
using testing_support::WindowText;

constexpr LPARAM ALT_HELD = LPARAM(1) << 29;

class ProgressDialog : public ProgressDialogTest {
protected:
    // A click on the abort button as the mouse makes it: the button notifies the dialog.
    void ClickAbort() { SendMessageA(Control(IDC_ABORT), BM_CLICK, 0, 0); }

    bool AbortEnabled() const { return IsWindowEnabled(Control(IDC_ABORT)) != FALSE; }
};

TEST_F(ProgressDialog, HasItsControlsAndTheirClasses) {
    EXPECT_EQ(ClassOf(dialog), "#32770");
    EXPECT_EQ(ClassOf(Control(IDC_ABORT)), "Button");
    EXPECT_EQ(ClassOf(Control(IDC_STATUS)), "Static");
    EXPECT_STREQ(ClassOf(Control(IDC_FILE_PROGRESS)).c_str(), "msctls_progress32");
    EXPECT_STREQ(ClassOf(Control(IDC_TOTAL_PROGRESS)).c_str(), "msctls_progress32");
    // The caption comes from the template's UTF-16 and reads back as Shift-JIS.
    EXPECT_EQ(WindowText(Control(IDC_ABORT)), "中止");
    EXPECT_EQ(WindowText(dialog), "");
    EXPECT_EQ(GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU, 0);
    EXPECT_TRUE(AbortEnabled());
}

TEST_F(ProgressDialog, BarsAreRealProgressBars) {
    for (int id : {IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS}) {
        SCOPED_TRACE(id);
        HWND bar = Control(id);
        ASSERT_NE(bar, nullptr);
        SendMessageA(bar, PBM_SETRANGE32, 0, 0xFFFF);
        PBRANGE range = {};
        SendMessageA(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        EXPECT_EQ(range.iLow, 0);
        EXPECT_EQ(range.iHigh, 0xFFFF);
        SendMessageA(bar, PBM_SETPOS, 39321, 0);
        EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 39321);
        SendMessageA(bar, PBM_SETRANGE32, 0, 6);
        EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, TRUE, 0), 0) << "low end";
        EXPECT_EQ(SendMessageA(bar, PBM_GETRANGE, FALSE, 0), 6) << "high end";
    }
}

TEST_F(ProgressDialog, StatusTakesShiftJisText) {
    char status[64];
    snprintf(status, sizeof status, TEXT_INSTALLING_FORMAT, "DATA01.arc");
    SetWindowTextA(Control(IDC_STATUS), status);
    EXPECT_EQ(WindowText(Control(IDC_STATUS)), status);
    wchar_t wide[64] = {};
    GetWindowTextW(Control(IDC_STATUS), wide, 64);
    EXPECT_STREQ(wide, L"DATA01.arc\x3092\x30A4\x30F3\x30B9\x30C8\x30FC\x30EB\x4E2D");
}

TEST_F(ProgressDialog, CloseSetsAbortAndDestroysTheDialog) {
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(progressDialogHandle, nullptr);
    EXPECT_EQ(abortRequested, 1);
    EXPECT_EQ(cancelRequested, 0);
}

TEST_F(ProgressDialog, PostedCloseActsInsideThePump) {
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(dialog)) << "nothing happens before the run yields";
    EXPECT_EQ(PumpMessages(), 0);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(progressDialogHandle, nullptr);
    EXPECT_EQ(abortRequested, 1);
}

TEST_F(ProgressDialog, CloseAfterConfirmedAbortKeepsBothFlags) {
    BoxAnswerer answerer(IDYES);
    ClickAbort();
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(cancelRequested, 1);
    EXPECT_EQ(abortRequested, 1);
    EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(ProgressDialog, CommandsOtherThanTheAbortClickAreLeftToTheDialogManager) {
    BoxAnswerer answerer(IDNO);
    ASSERT_TRUE(answerer.Installed());
    EXPECT_EQ(ProgressDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_DOUBLECLICKED), 0), FALSE);
    EXPECT_EQ(ProgressDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_SETFOCUS), 0), FALSE);
    EXPECT_EQ(ProgressDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0), FALSE);
    EXPECT_EQ(ProgressDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0), FALSE);
    EXPECT_EQ(ProgressDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_STATUS, BN_CLICKED), 0), FALSE);
    EXPECT_EQ(ProgressDialogProc(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0), FALSE);
    EXPECT_EQ(ProgressDialogProc(dialog, WM_INITDIALOG, 0, 0), TRUE);
    EXPECT_EQ(ProgressDialogProc(dialog, WM_APP, 0, 0), FALSE);
    EXPECT_TRUE(answerer.boxes.empty());
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(AbortEnabled());
    EXPECT_EQ(cancelRequested, 0);
    EXPECT_EQ(abortRequested, 0);
}

TEST_F(ProgressDialog, SystemCloseIsSwallowed) {
    EXPECT_EQ(ProgressDialogProc(dialog, WM_SYSCOMMAND, SC_CLOSE, 0), TRUE);
    // The low four bits of the command belong to the system and are ignored.
    EXPECT_EQ(ProgressDialogProc(dialog, WM_SYSCOMMAND, SC_CLOSE | 0x2, 0), TRUE);
    SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(progressDialogHandle, dialog);
    EXPECT_EQ(abortRequested, 0);
}

TEST_F(ProgressDialog, EscapeKeyDoesNothing) {
    MessageRecorder recorder;
    ASSERT_TRUE(recorder.Installed());
    SetFocus(Control(IDC_ABORT));
    PostMessageA(Control(IDC_ABORT), WM_KEYDOWN, VK_ESCAPE, 1);
    PostMessageA(Control(IDC_ABORT), WM_KEYUP, VK_ESCAPE, 1 | (LPARAM(3) << 30));
    EXPECT_EQ(PumpMessages(), 0);
    // The dialog manager turned the key into IDCANCEL, which the dialog ignores.
    EXPECT_EQ(recorder.Count(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)), 1);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(progressDialogHandle, dialog);
    EXPECT_EQ(abortRequested, 0);
    EXPECT_EQ(cancelRequested, 0);
}

TEST_F(ProgressDialog, AltF4DoesNothing) {
    MessageRecorder recorder;
    ASSERT_TRUE(recorder.Installed());
    SetFocus(Control(IDC_ABORT));
    PostMessageA(Control(IDC_ABORT), WM_SYSKEYDOWN, VK_F4, 1 | ALT_HELD);
    PostMessageA(Control(IDC_ABORT), WM_SYSKEYUP, VK_F4, 1 | ALT_HELD | (LPARAM(3) << 30));
    EXPECT_EQ(PumpMessages(), 0);
    // Alt+F4 became the close command, posted to the dialog and swallowed there.
    EXPECT_EQ(recorder.Count(dialog, WM_SYSCOMMAND, SC_CLOSE), 1);
    EXPECT_EQ(recorder.Count(dialog, WM_CLOSE, 0), 0);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(progressDialogHandle, dialog);
    EXPECT_EQ(abortRequested, 0);
}

TEST_F(ProgressDialog, AbortAnsweredNoChangesNothingAndAsksAgain) {
    SetWindowTextA(dialog, TEXT_PROGRAM_TITLE);
    BoxAnswerer answerer(IDNO);
    ASSERT_TRUE(answerer.Installed());

    ClickAbort();
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(cancelRequested, 0);
    EXPECT_EQ(abortRequested, 0);
    EXPECT_TRUE(AbortEnabled());
    EXPECT_TRUE(IsWindowEnabled(dialog)) << "the box gave its owner back";

    ClickAbort();
    EXPECT_EQ(answerer.boxes.size(), 2u) << "a later click asks again";
    EXPECT_EQ(cancelRequested, 0);
    EXPECT_TRUE(AbortEnabled());
}

TEST_F(ProgressDialog, ConfirmationBoxShowsTheQuestionWithNoAsDefault) {
    BoxAnswerer answerer(IDNO);
    ClickAbort();
    ASSERT_EQ(answerer.boxes.size(), 1u);
    const testing_support::SeenBox& box = answerer.boxes[0];
    EXPECT_EQ(box.className, "#32770");
    EXPECT_EQ(box.owner, dialog);
    EXPECT_EQ(box.caption, TEXT_PROGRAM_TITLE);
    ASSERT_EQ(box.texts.size(), 1u);
    // Twelve ideographic spaces (81 40) follow the question.
    std::string padded = "アップデートを中止しますか？";
    for (int i = 0; i < 12; ++i) padded += "\x81\x40";
    EXPECT_EQ(box.texts[0], padded);
    EXPECT_EQ(box.texts[0].size(), 52u);
    EXPECT_TRUE(box.questionIcon);
    EXPECT_TRUE(box.hasYes);
    EXPECT_TRUE(box.hasNo);
    EXPECT_EQ(box.defaultId, IDNO);
    EXPECT_EQ(box.focusedId, IDNO);
}

TEST_F(ProgressDialog, AbortAnsweredYesSetsCancelAndDisablesTheButton) {
    BoxAnswerer answerer(IDYES);
    ClickAbort();
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(cancelRequested, 1);
    EXPECT_EQ(abortRequested, 0);
    EXPECT_FALSE(AbortEnabled());
    EXPECT_TRUE(IsWindow(dialog)) << "the dialog stays until the run ends";
    EXPECT_EQ(WindowText(Control(IDC_ABORT)), "中止") << "the caption never changes";
}

TEST_F(ProgressDialog, ClickAfterConfirmationShowsNoBox) {
    BoxAnswerer answerer(IDYES);
    ClickAbort();
    ASSERT_EQ(answerer.boxes.size(), 1u);
    // The button is disabled now, so the click reaches the procedure only as a command.
    EXPECT_EQ(ProgressDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(Control(IDC_ABORT))),
              TRUE);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_CLICKED), reinterpret_cast<LPARAM>(Control(IDC_ABORT)));
    EXPECT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(cancelRequested, 1);
}

TEST_F(ProgressDialog, ConfirmationWithoutTheButtonStillCancels) {
    // A button that cannot be found is not disabled, but the abort holds.
    DestroyWindow(Control(IDC_ABORT));
    BoxAnswerer answerer(IDYES);
    EXPECT_EQ(ProgressDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_CLICKED), 0), TRUE);
    ASSERT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(cancelRequested, 1);
    EXPECT_EQ(ProgressDialogProc(dialog, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_CLICKED), 0), TRUE);
    EXPECT_EQ(answerer.boxes.size(), 1u);
}

TEST_F(ProgressDialog, SpaceOnTheButtonAsksThroughThePump) {
    BoxAnswerer answerer(IDNO);
    SetFocus(Control(IDC_ABORT));
    PostMessageA(Control(IDC_ABORT), WM_KEYDOWN, VK_SPACE, 1);
    PostMessageA(Control(IDC_ABORT), WM_KEYUP, VK_SPACE, 1 | (LPARAM(3) << 30));
    EXPECT_EQ(PumpMessages(), 0);
    EXPECT_EQ(answerer.boxes.size(), 1u);
    EXPECT_EQ(cancelRequested, 0);
}

}  // namespace
