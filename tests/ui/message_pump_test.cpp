// The non-blocking yield: what it takes from the queue, what it leaves, and how it
// routes keys to the progress dialog.
#include "ui/message_pump.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/dialog_harness.h"
#include "ui/progress_dialog.h"
#include "ui/resource_ids.h"

namespace {

using testing_support::HandleQueuedMessages;
using testing_support::MessageRecorder;
using testing_support::ProgressDialogTest;
using testing_support::ResetDialogState;

constexpr UINT MESSAGE_A = WM_APP + 1;
constexpr UINT MESSAGE_B = WM_APP + 2;

// A hidden window that notes the messages dispatched to it.
class MessagePump : public ::testing::Test {
protected:
    static LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if ((message >= WM_APP || message == WM_CHAR) && current) current->received.push_back(message);
        if (message == WM_CHAR && current) current->typed += static_cast<char>(wParam);
        return DefWindowProcA(window, message, wParam, lParam);
    }

    void SetUp() override {
        ResetDialogState();
        current = this;
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Record;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "PumpTestWindow";
        RegisterClassA(&windowClass);
        window = CreateWindowA("PumpTestWindow", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        HandleQueuedMessages();
    }

    void TearDown() override {
        DestroyWindow(window);
        HandleQueuedMessages();
        current = nullptr;
        ResetDialogState();
    }

    static bool Queued(UINT message) {
        MSG msg;
        return PeekMessageA(&msg, nullptr, message, message, PM_NOREMOVE) != FALSE;
    }

    static bool QueueEmpty() {
        MSG msg;
        return PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) == FALSE;
    }

    static void PostQuit() { PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0); }

    static inline MessagePump* current = nullptr;
    HWND window = nullptr;
    std::vector<UINT> received;
    std::string typed;
};

TEST_F(MessagePump, EmptyQueueReturnsZero) {
    ASSERT_TRUE(QueueEmpty());
    EXPECT_EQ(PumpMessages(), 0);
    EXPECT_EQ(PumpOneMessage(), 0);
    EXPECT_TRUE(received.empty());
}

TEST_F(MessagePump, HandlesEveryWaitingMessageInOrder) {
    const std::vector<UINT> posted = {WM_APP + 5, WM_APP + 3, WM_APP + 9, WM_APP + 3, WM_APP + 1};
    for (UINT message : posted) ASSERT_TRUE(PostMessageA(window, message, 0, 0));
    EXPECT_EQ(PumpMessages(), 0);
    EXPECT_EQ(received, posted);
    EXPECT_TRUE(QueueEmpty());
}

TEST_F(MessagePump, KeysAreTranslatedWithoutTheDialog) {
    ASSERT_EQ(progressDialogHandle, nullptr);
    // The scan code in bits 16 to 23, as the keyboard driver would post it.
    const LPARAM scanCode = MapVirtualKeyA('7', MAPVK_VK_TO_VSC);
    ASSERT_TRUE(PostMessageA(window, WM_KEYDOWN, '7', 1 | (scanCode << 16)));
    EXPECT_EQ(PumpMessages(), 0);
    EXPECT_EQ(typed, "7") << "the character made by TranslateMessage is handled in the same call";
    EXPECT_TRUE(QueueEmpty());
}

TEST_F(MessagePump, QuitStopsTheDrainAndLeavesLaterMessagesQueued) {
    PostMessageA(window, MESSAGE_A, 0, 0);
    PostQuit();
    PostMessageA(window, MESSAGE_B, 0, 0);

    EXPECT_EQ(PumpMessages(), 1);
    EXPECT_EQ(received, std::vector<UINT>{MESSAGE_A});
    EXPECT_FALSE(Queued(WM_QUIT)) << "the quit message is consumed";
    EXPECT_TRUE(Queued(MESSAGE_B));

    EXPECT_EQ(PumpMessages(), 0);
    EXPECT_EQ(received, (std::vector<UINT>{MESSAGE_A, MESSAGE_B}));
}

TEST_F(MessagePump, QuitAmongThreadMessages) {
    const DWORD thread = GetCurrentThreadId();
    PostThreadMessageA(thread, MESSAGE_A, 0, 0);
    PostQuit();
    PostThreadMessageA(thread, MESSAGE_B, 0, 0);

    EXPECT_EQ(PumpMessages(), 1);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, MESSAGE_B) << "A was taken before the quit, B waits behind it";
    EXPECT_TRUE(QueueEmpty());
}

TEST_F(MessagePump, EveryLaterQuitAgainReturnsOne) {
    PostQuit();
    EXPECT_EQ(PumpMessages(), 1);
    EXPECT_EQ(PumpMessages(), 0);
    PostMessageA(window, MESSAGE_A, 0, 0);
    PostQuit();
    EXPECT_EQ(PumpMessages(), 1);
    EXPECT_EQ(received, std::vector<UINT>{MESSAGE_A});
    PostQuit();
    EXPECT_EQ(PumpMessages(), 1);
    EXPECT_TRUE(QueueEmpty());
}

TEST_F(MessagePump, OneMessageAtATime) {
    PostMessageA(window, MESSAGE_A, 0, 0);
    PostMessageA(window, MESSAGE_B, 0, 0);
    EXPECT_NE(PumpOneMessage(), 0);
    EXPECT_EQ(received, std::vector<UINT>{MESSAGE_A});
    PostQuit();
    EXPECT_NE(PumpOneMessage(), 0);
    EXPECT_EQ(received, (std::vector<UINT>{MESSAGE_A, MESSAGE_B}));
    try {
        PumpOneMessage();
        ADD_FAILURE() << "a quit message must be thrown";
    } catch (int value) {
        EXPECT_EQ(value, 0);
    }
    EXPECT_EQ(PumpOneMessage(), 0);
}

// Keys for the dialog go through the dialog manager only while the dialog is known.
class MessagePumpRouting : public ProgressDialogTest {
protected:
    void PressEscapeOnTheButton() {
        HWND button = Control(IDC_ABORT);
        SetFocus(button);
        PostMessageA(button, WM_KEYDOWN, VK_ESCAPE, 1);
        PostMessageA(button, WM_KEYUP, VK_ESCAPE, 1 | (LPARAM(3) << 30));
    }
};

TEST_F(MessagePumpRouting, KeysReachTheDialogManagerWhileTheDialogIsKnown) {
    MessageRecorder recorder;
    ASSERT_TRUE(recorder.Installed());
    PressEscapeOnTheButton();
    EXPECT_EQ(PumpMessages(), 0);
    EXPECT_EQ(recorder.Count(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)), 1);
}

TEST_F(MessagePumpRouting, NoDialogManagerWithoutTheHandle) {
    MessageRecorder recorder;
    ASSERT_TRUE(recorder.Installed());
    progressDialogHandle = nullptr;
    PressEscapeOnTheButton();
    EXPECT_EQ(PumpMessages(), 0);
    // Dispatched to the button itself, the key never becomes a command for the dialog.
    EXPECT_EQ(recorder.Count(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED)), 0);
    EXPECT_EQ(recorder.Count(Control(IDC_ABORT), WM_KEYDOWN, VK_ESCAPE), 1);
    EXPECT_TRUE(IsWindow(dialog));
}

TEST_F(MessagePumpRouting, MessagesForTheDialogStillArriveWithoutTheHandle) {
    testing_support::BoxAnswerer answerer(IDNO);
    ASSERT_TRUE(answerer.Installed());
    progressDialogHandle = nullptr;
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_ABORT, BN_CLICKED), 0);
    EXPECT_EQ(PumpMessages(), 0);
    EXPECT_EQ(answerer.boxes.size(), 1u) << "dispatched straight to the dialog procedure";
}

TEST_F(MessagePumpRouting, RoutingFollowsTheDialogsLifetime) {
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    ASSERT_EQ(progressDialogHandle, nullptr);
    // Messages after the dialog is gone are handled as usual.
    PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
    EXPECT_EQ(PumpMessages(), 0);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

}  // namespace
