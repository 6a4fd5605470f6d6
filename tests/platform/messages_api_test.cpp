// Message queues as the program uses them, on the stand-in and under Wine
// alike: window-filtered peeks, a get that waits for a post, and a message
// sent to a dialog of another thread.
#include "stand_in.h"
#include "test_resource_ids.h"

#include "platform/win.h"

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// What the procedure saw; read after the thread that ran it is joined or
// has answered.
struct Seen {
    std::vector<int> commands;
    std::vector<std::thread::id> threads;
};
Seen seen;

// Like the upload dialog: Cancel destroys the dialog from inside its procedure.
INT_PTR CALLBACK DestroyOnCancelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND) {
        seen.threads.push_back(std::this_thread::get_id());
        seen.commands.push_back(LOWORD(wParam));
        if (LOWORD(wParam) == IDCANCEL) {
            DestroyWindow(dialog);
        }
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

HWND Modeless() {
    return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TEST_MODELESS), nullptr,
                              DestroyOnCancelProc, 0);
}

class Messages : public ::testing::Test {
protected:
    void SetUp() override {
        seen = Seen();
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
};

TEST_F(Messages, PeekWithAWindowFilterLeavesOtherWindowsMessagesQueued) {
    HWND first = Modeless();
    HWND second = Modeless();
    HWND firstButton = GetDlgItem(first, IDCANCEL);
    ASSERT_TRUE(PostMessageA(firstButton, WM_USER + 5, 11, 12));
    ASSERT_TRUE(PostMessageA(first, WM_USER + 9, 0, 0));
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 7, 0, 0));  // a message of the thread itself

    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, second, 0, 0, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, first, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.hwnd, firstButton) << "a control's message belongs to its dialog";
    ASSERT_TRUE(PeekMessageA(&msg, first, WM_USER + 9, WM_USER + 9, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 9)) << "the number range picks past older messages";
    ASSERT_TRUE(PeekMessageA(&msg, first, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 5));
    EXPECT_EQ(msg.wParam, 11u);
    EXPECT_EQ(msg.lParam, 12);
    EXPECT_FALSE(PeekMessageA(&msg, first, 0, 0, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "no filter takes the thread's own message";
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.message, UINT(WM_USER + 7));
    DestroyWindow(first);
    DestroyWindow(second);
}

TEST_F(Messages, GetMessageWaitsForAPost) {
    HWND dialog = Modeless();
    auto start = std::chrono::steady_clock::now();
    MSG msg;
    std::thread poster([&] {
        Sleep(50);
        PostMessageA(dialog, WM_USER + 1, 5, 0);
    });
    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    poster.join();
    ASSERT_TRUE(got);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    EXPECT_EQ(msg.hwnd, dialog);
    EXPECT_EQ(msg.message, UINT(WM_USER + 1));
    DestroyWindow(dialog);
}

// The listener's way: a thread of its own creates its dialog and waits for
// messages between pumps. A message sent from another thread wakes that wait,
// runs on the dialog's thread at its next peek, and the sender waits for it.
TEST_F(Messages, SentFromAnotherThreadRunsOnTheDialogsThreadBeforeTheSendReturns) {
    std::atomic<HWND> dialog{nullptr};
    std::thread::id owner;
    int timedOut = 0;
    std::thread worker([&] {
        owner = std::this_thread::get_id();
        HWND own = Modeless();
        dialog = own;
        while (IsWindow(own)) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageA(&msg);
            }
            if (IsWindow(own) && MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_ALLINPUT) == WAIT_TIMEOUT) {
                ++timedOut;
            }
        }
    });
    for (int waited = 0; dialog == nullptr && waited < 5000; ++waited) {
        Sleep(1);
    }
    ASSERT_NE(dialog.load(), nullptr);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindow(dialog)) << "the procedure ran before the send returned";
    worker.join();
    EXPECT_EQ(seen.commands, std::vector<int>{IDCANCEL});
    EXPECT_EQ(seen.threads, std::vector<std::thread::id>{owner});
    EXPECT_EQ(timedOut, 0) << "the sent message woke the dialog thread's wait";
}

}  // namespace
