// The monitor list, filled through the enumeration callback with fabricated
// rectangles, and the placement arithmetic; one run against the real display.
#include "ui/monitor_list.h"

#include <gtest/gtest.h>

#include "support/failing_allocation.h"

namespace {

RECT Rect(LONG left, LONG top, LONG right, LONG bottom) { return RECT{left, top, right, bottom}; }

bool SameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

void Report(RECT rect) { ASSERT_TRUE(MonitorEnumProc(nullptr, nullptr, &rect, 0)); }

class MonitorList : public ::testing::Test {
protected:
    void SetUp() override { FreeMonitorList(); }
    void TearDown() override { FreeMonitorList(); }
};

// A plain top-level window of the given outer size, never shown.
HWND CreateWindowOfSize(int width, int height) {
    return CreateWindowExA(0, "STATIC", "placement", WS_POPUP, 37, 51, width, height, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

TEST(CenteredPosition, CentresOnAMonitorAtTheOrigin) {
    const POINT p = CenteredPosition(Rect(0, 0, 1920, 1080), Rect(10, 20, 10 + 549, 20 + 215));
    EXPECT_EQ(p.x, 685);
    EXPECT_EQ(p.y, 432);
}

TEST(CenteredPosition, TruncatesTowardZeroWhenTheWindowIsWider) {
    const POINT p = CenteredPosition(Rect(0, 0, 800, 600), Rect(-5, 0, -5 + 1001, 100));
    EXPECT_EQ(p.x, -100);  // -201 / 2
    EXPECT_EQ(p.y, 250);
    const POINT q = CenteredPosition(Rect(0, 0, 800, 600), Rect(0, 0, 800, 603));
    EXPECT_EQ(q.y, -1);    // -3 / 2
}

TEST(CenteredPosition, IgnoresTheMonitorsOwnCorner) {
    const POINT p = CenteredPosition(Rect(1920, 0, 1920 + 1280, 1024), Rect(0, 0, 500, 200));
    EXPECT_EQ(p.x, 390);
    EXPECT_EQ(p.y, 412);
}

TEST_F(MonitorList, NodesAreNumberedInCallbackOrder) {
    const RECT rects[] = {Rect(0, 0, 1920, 1080), Rect(1920, 0, 3200, 1024), Rect(-800, -600, 0, 0)};
    for (const RECT& r : rects) Report(r);
    int expected = 0;
    for (const MonitorNode* node = monitorListHead; node; node = node->next, ++expected) {
        EXPECT_EQ(node->index, expected);
        EXPECT_TRUE(SameRect(node->rect, rects[expected]));
        if (!node->next) {
            EXPECT_EQ(node, monitorListTail);
        }
    }
    EXPECT_EQ(expected, 3);
    for (int i = 0; i < 3; ++i) {
        RECT found{};
        ASSERT_EQ(FindMonitorRect(&found, i), 1) << i;
        EXPECT_TRUE(SameRect(found, rects[i])) << i;
    }
}

TEST_F(MonitorList, LookupsThatFindNothingLeaveTheRectangle) {
    const RECT untouched = Rect(11, 22, 33, 44);
    RECT r = untouched;
    EXPECT_EQ(FindMonitorRect(&r, 0), 0);
    EXPECT_TRUE(SameRect(r, untouched));
    Report(Rect(0, 0, 640, 480));
    Report(Rect(640, 0, 1280, 480));
    EXPECT_EQ(FindMonitorRect(&r, 2), 0);
    EXPECT_EQ(FindMonitorRect(&r, -1), 0);
    EXPECT_TRUE(SameRect(r, untouched));
}

TEST_F(MonitorList, FreeingEmptiesTheListAndNumberingStartsAgain) {
    FreeMonitorList();
    EXPECT_EQ(monitorListHead, nullptr);
    EXPECT_EQ(monitorListTail, nullptr);
    Report(Rect(0, 0, 1, 1));
    Report(Rect(1, 1, 2, 2));
    FreeMonitorList();
    EXPECT_EQ(monitorListHead, nullptr);
    EXPECT_EQ(monitorListTail, nullptr);
    Report(Rect(5, 5, 6, 6));
    ASSERT_NE(monitorListHead, nullptr);
    EXPECT_EQ(monitorListHead->index, 0);
    EXPECT_EQ(monitorListHead, monitorListTail);
}

TEST_F(MonitorList, ANodeThatCannotBeAllocatedStopsTheEnumeration) {
    Report(Rect(0, 0, 1920, 1080));
    const MonitorNode* first = monitorListHead;
    RECT second = Rect(1920, 0, 3200, 1024);
    {
        testing_support::NothrowAllocationFailure failure(sizeof(MonitorNode));
        EXPECT_FALSE(MonitorEnumProc(nullptr, nullptr, &second, 0));
        EXPECT_EQ(testing_support::NothrowAllocationFailure::Refused(), 1u);
    }
    EXPECT_EQ(monitorListHead, first);
    EXPECT_EQ(monitorListTail, first);
    EXPECT_EQ(first->next, nullptr);
    Report(second);
    EXPECT_EQ(monitorListTail->index, 1);
}

TEST_F(MonitorList, MovesAWindowByMonitorZerosSize) {
    HWND window = CreateWindowOfSize(500, 200);
    ASSERT_NE(window, nullptr);
    Report(Rect(1920, 0, 1920 + 1280, 1024));
    Report(Rect(0, 0, 1920, 1080));
    CenterOnFirstMonitor(window);
    RECT placed{};
    ASSERT_TRUE(GetWindowRect(window, &placed));
    EXPECT_TRUE(SameRect(placed, Rect(390, 412, 890, 612)))
        << placed.left << "," << placed.top << " " << placed.right << "," << placed.bottom;
    DestroyWindow(window);
}

TEST_F(MonitorList, WithoutMonitorZeroTheWindowStays) {
    HWND window = CreateWindowOfSize(300, 100);
    ASSERT_NE(window, nullptr);
    RECT before{};
    ASSERT_TRUE(GetWindowRect(window, &before));
    CenterOnFirstMonitor(window);
    RECT after{};
    ASSERT_TRUE(GetWindowRect(window, &after));
    EXPECT_TRUE(SameRect(before, after));
    DestroyWindow(window);
}

TEST_F(MonitorList, CentresOnTheRealPrimaryDisplay) {
    ASSERT_TRUE(EnumerateMonitors());
    RECT first{};
    ASSERT_EQ(FindMonitorRect(&first, 0), 1) << "the display reported no monitor";
    const int width = first.right - first.left;
    const int height = first.bottom - first.top;
    ASSERT_GT(width, 0);
    ASSERT_GT(height, 0);
    HWND window = CreateWindowOfSize(549, 215);
    ASSERT_NE(window, nullptr);
    CenterOnFirstMonitor(window);
    RECT placed{};
    ASSERT_TRUE(GetWindowRect(window, &placed));
    EXPECT_EQ(placed.left, (width - 549) / 2);
    EXPECT_EQ(placed.top, (height - 215) / 2);
    EXPECT_EQ(placed.right - placed.left, 549);
    DestroyWindow(window);
}

}  // namespace
