// The entry program's end when the progress dialog cannot be made. This test
// program links no dialog template, so its own module lacks IDD_PROGRESS.
#include "entry/run_under_dialog.h"

#include <gtest/gtest.h>

#include "entry/program_names.h"
#include "support/dialog_harness.h"
#include "ui/monitor_list.h"
#include "ui/portable/texts.h"

using namespace testing_support;

namespace {

TEST(RunUnderDialog, AModuleWithoutTheTemplateGivesTheWarningAndTouchesNoMonitorList) {
    const HINSTANCE module = GetModuleHandleA(nullptr);
    ASSERT_EQ(FindResourceA(module, MAKEINTRESOURCEA(IDD_PROGRESS), RT_DIALOG), nullptr);
    ResetDialogState();
    // A list standing in for one built earlier: neither extended nor freed.
    MonitorNode earlier{0, RECT{0, 0, 1, 1}, nullptr};
    monitorListHead = monitorListTail = &earlier;

    int exitCode = 0;
    std::vector<SeenBox> boxes;
    {
        BoxAnswerer answerer(IDOK);
        ASSERT_TRUE(answerer.Installed());
        exitCode = RunUnderDialog(module, SW_SHOWNORMAL, "C:\\nowhere");
        boxes = answerer.boxes;
    }
    const MonitorNode* head = monitorListHead;
    const MonitorNode* tail = monitorListTail;
    monitorListHead = monitorListTail = nullptr;

    EXPECT_EQ(exitCode, EXIT_NO_DIALOG);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].caption, TEXT_PROGRAM_TITLE);
    EXPECT_EQ(boxes[0].texts, std::vector<std::string>{TEXT_DIALOG_FAILURE});
    EXPECT_EQ(head, &earlier);
    EXPECT_EQ(tail, &earlier);
    EXPECT_EQ(earlier.next, nullptr);
    EXPECT_EQ(progressDialogHandle, nullptr);
}

}  // namespace
