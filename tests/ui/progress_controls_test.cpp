// The dialog's life and its controls as the run, the bench copier and the preview drive them.
#include "ui/progress_controls.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/dialog_harness.h"
#include "ui/monitor_list.h"
#include "ui/portable/texts.h"
#include "ui/resource_ids.h"

namespace {

using testing_support::ProgressDialogTest;
using testing_support::ResetDialogState;
using testing_support::WindowText;

LRESULT Position(HWND bar) { return SendMessageA(bar, PBM_GETPOS, 0, 0); }
LRESULT High(HWND bar) { return SendMessageA(bar, PBM_GETRANGE, FALSE, 0); }

TEST(ProgressControls, CreatedHiddenThenTitledCentredAndShownThenDestroyed) {
    ResetDialogState();
    ASSERT_TRUE(CreateProgressDialog(GetModuleHandleA(nullptr)));
    const HWND dialog = progressDialogHandle;
    EXPECT_FALSE(IsWindowVisible(dialog));

    ASSERT_TRUE(EnumerateMonitors());
    ShowProgressDialog(SW_SHOWNORMAL);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(WindowText(dialog), TEXT_PROGRAM_TITLE);
    RECT monitor, window;
    ASSERT_TRUE(FindMonitorRect(&monitor, 0));
    ASSERT_TRUE(GetWindowRect(dialog, &window));
    const POINT centred = CenteredPosition(monitor, window);
    EXPECT_EQ(window.left, centred.x);
    EXPECT_EQ(window.top, centred.y);
    FreeMonitorList();

    DestroyProgressDialog();
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(progressDialogHandle, nullptr);
    DestroyProgressDialog();  // nothing left to destroy, as after WM_CLOSE
    EXPECT_EQ(progressDialogHandle, nullptr);
}

TEST_F(ProgressDialogTest, ControlsShowTheEntryAndBothBars) {
    const ProgressControls controls = FetchProgressControls();
    ASSERT_EQ(controls.fileBar, Control(IDC_FILE_PROGRESS));
    SetUpProgress(controls, 6);
    EXPECT_EQ(High(controls.fileBar), 0xFFFF);
    EXPECT_EQ(High(controls.totalBar), 6);

    SetFileProgress(controls, 0x100000, 0x100001);
    EXPECT_EQ(Position(controls.fileBar), 65534) << "the product needs 64 bits";
    ASSERT_TRUE(BeginEntry(controls, "sub\\ソ.arc"));
    char status[MAX_PATH];
    std::snprintf(status, sizeof status, TEXT_INSTALLING_FORMAT, "sub\\ソ.arc");
    EXPECT_EQ(WindowText(controls.status), status);
    EXPECT_EQ(Position(controls.fileBar), 0);
    SetFileProgress(controls, 0x100001, 0x100001);
    EXPECT_EQ(Position(controls.fileBar), 0xFFFF);
    SetEntriesDone(controls, 3);
    EXPECT_EQ(Position(controls.totalBar), 3);

    // A status text that does not fit shows nothing and leaves the bar.
    EXPECT_FALSE(BeginEntry(controls, std::string(MAX_PATH, 'n').c_str()));
    EXPECT_EQ(WindowText(controls.status), status);
    EXPECT_EQ(Position(controls.fileBar), 0xFFFF);
}

TEST(ProgressControls, WithoutADialogEveryUpdateIsSkipped) {
    ResetDialogState();
    const ProgressControls controls = FetchProgressControls();
    EXPECT_EQ(controls.status, nullptr);
    EXPECT_EQ(controls.fileBar, nullptr);
    EXPECT_EQ(controls.totalBar, nullptr);
    SetUpProgress(controls, 1);
    EXPECT_TRUE(BeginEntry(controls, std::string(MAX_PATH, 'n').c_str()));
    SetFileProgress(controls, 1, 1);
    SetEntriesDone(controls, 1);
}

}  // namespace
