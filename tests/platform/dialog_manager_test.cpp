// The dialog manager as the program meets it and the driver acts on it:
// modal loops and their keyboard, modeless dialogs and their pumps,
// procedures on the creating thread, and message boxes answered by the
// driver. Queues alone are in messages_api_test.cpp.
#include "driver_helpers.h"
#include "test_resource_ids.h"

#include "platform/linux/headless.h"
#include "platform/win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <vector>

namespace {

using platform_test::User;
using platform_test::WaitForDialog;
using platform_test::WaitForFocus;

constexpr INT_PTR kEndBase = 100;  // EndDialog(100 + command), so 0 and 1 stay distinguishable

// What the procedures saw; they run on the test's thread, and the user
// threads only read through the driver.
struct Seen {
    LPARAM initParameter = 0;
    WPARAM initFocus = 0;
    std::vector<int> commands;
    std::vector<std::thread::id> threads;
};
Seen seen;
BOOL initResult = TRUE;

INT_PTR CALLBACK EndOnCommandProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            seen.initParameter = lParam;
            seen.initFocus = wParam;
            return initResult;
        case WM_COMMAND:
            seen.commands.push_back(LOWORD(wParam));
            EndDialog(dialog, kEndBase + LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK FocusPasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetFocus(GetDlgItem(dialog, IDC_TEST_PASSWORD));
        return FALSE;
    }
    return EndOnCommandProc(dialog, message, wParam, lParam);
}

INT_PTR CALLBACK EndAtInitProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        EndDialog(dialog, 7);
        return TRUE;
    }
    return FALSE;
}

// Like the upload dialog: Cancel destroys the dialog from inside its procedure.
INT_PTR CALLBACK DestroyOnCancelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    seen.threads.push_back(std::this_thread::get_id());
    if (message == WM_INITDIALOG) {
        return TRUE;
    }
    if (message == WM_COMMAND) {
        seen.commands.push_back(LOWORD(wParam));
        if (LOWORD(wParam) == IDCANCEL) {
            DestroyWindow(dialog);
        }
        return TRUE;
    }
    return FALSE;
}

class DialogManager : public ::testing::Test {
protected:
    void SetUp() override {
        seen = Seen();
        initResult = TRUE;
        DrainQueue();
    }

    static void DrainQueue() {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    // Runs the modal dialog while a user acts on it from another thread.
    static INT_PTR RunModal(int templateId, DLGPROC procedure, const std::function<void(HWND)>& act) {
        uint64_t mark = LastEventSequence();
        User user([&] {
            HWND dialog = WaitForDialog(mark, templateId);
            act(dialog);
            platform_test::ExpectDestroyed(mark, dialog);
        });
        return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr, procedure, 0);
    }

    static HWND Modeless(int templateId, DLGPROC procedure) {
        return CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), nullptr, procedure, 0);
    }

    static void PumpPending(HWND dialog) {
        MSG msg;
        while (PeekMessageA(&msg, dialog, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }

    static std::vector<headless::Event> EventsAfter(uint64_t mark) {
        std::vector<headless::Event> after;
        for (const headless::Event& event : headless::Events()) {
            if (event.sequence > mark) {
                after.push_back(event);
            }
        }
        return after;
    }
};

TEST_F(DialogManager, ModalDialogReturnsTheEndDialogValueAndIsGone) {
    uint64_t mark = LastEventSequence();
    HWND shown = nullptr;
    INT_PTR result;
    {
        User user([&] {
            shown = WaitForDialog(mark, IDD_TEST_ENTRY);
            EXPECT_TRUE(headless::IsShown(shown));
            EXPECT_EQ(headless::Title(shown), "Entry");
            EXPECT_EQ(headless::ShownDialogs().back(), shown);
            headless::PressButton(shown, IDC_TEST_GO);
        });
        result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TEST_ENTRY), nullptr, EndOnCommandProc,
                                 1234);
    }
    EXPECT_EQ(result, kEndBase + IDC_TEST_GO);
    EXPECT_EQ(seen.initParameter, 1234);
    EXPECT_FALSE(IsWindow(shown));
    EXPECT_FALSE(headless::IsShown(shown));

    std::vector<headless::Event> events = EventsAfter(mark);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, headless::EventKind::DialogShown);
    EXPECT_EQ(events[1].kind, headless::EventKind::DialogDestroyed);
    EXPECT_EQ(events[1].window, shown);
    EXPECT_EQ(events[1].templateId, IDD_TEST_ENTRY);
    EXPECT_LT(events[0].sequence, events[1].sequence);
}

TEST_F(DialogManager, InitialFocusIsTheFirstTabStopUnlessTheProcedureChose) {
    int focused = 0;
    HWND firstTabStop = nullptr;
    RunModal(IDD_TEST_ENTRY, EndOnCommandProc, [&](HWND dialog) {
        focused = headless::FocusedItem(dialog);
        firstTabStop = GetDlgItem(dialog, IDC_TEST_USER);
        headless::PressKey(dialog, VK_ESCAPE);
    });
    EXPECT_EQ(focused, IDC_TEST_USER);
    EXPECT_EQ(seen.initFocus, reinterpret_cast<WPARAM>(firstTabStop)) << "WM_INITDIALOG names the first tab stop";

    RunModal(IDD_TEST_ENTRY, FocusPasswordProc, [&](HWND dialog) {
        focused = headless::FocusedItem(dialog);
        headless::PressKey(dialog, VK_ESCAPE);
    });
    EXPECT_EQ(focused, IDC_TEST_PASSWORD);

    initResult = FALSE;  // FALSE without setting a focus leaves none
    RunModal(IDD_TEST_ENTRY, EndOnCommandProc, [&](HWND dialog) {
        focused = headless::FocusedItem(dialog);
        headless::PressKey(dialog, VK_ESCAPE);
    });
    EXPECT_EQ(focused, 0);
}

struct KeyCase {
    const char* what;
    int templateId;
    DLGPROC procedure;
    std::function<void(HWND)> act;
    INT_PTR result;
};

TEST_F(DialogManager, KeysAndTheCloseBoxBecomeCommands) {
    const KeyCase cases[] = {
        {"Esc", IDD_TEST_ENTRY, EndOnCommandProc, [](HWND d) { headless::PressKey(d, VK_ESCAPE); },
         kEndBase + IDCANCEL},
        {"close box", IDD_TEST_ENTRY, EndOnCommandProc, [](HWND d) { headless::PressCloseBox(d); },
         kEndBase + IDCANCEL},
        {"Enter in an edit box: the default button", IDD_TEST_ENTRY, FocusPasswordProc,
         [](HWND d) { headless::PressKey(d, VK_RETURN); }, kEndBase + IDC_TEST_GO},
        {"Enter on a push button that is not the default: that button", IDD_TEST_CANCEL_DEFAULT, EndOnCommandProc,
         [](HWND d) { headless::PressKey(d, VK_RETURN); }, kEndBase + IDOK},
        {"Tab to the default button, then Enter", IDD_TEST_CANCEL_DEFAULT, EndOnCommandProc,
         [](HWND d) {
             headless::PressKey(d, VK_TAB);
             EXPECT_TRUE(WaitForFocus(d, IDCANCEL));
             headless::PressKey(d, VK_RETURN);
         },
         kEndBase + IDCANCEL},
        {"Enter without any default button: IDOK", IDD_TEST_NO_BUTTONS, EndOnCommandProc,
         [](HWND d) { headless::PressKey(d, VK_RETURN); }, kEndBase + IDOK},
        {"Esc without a Cancel button: IDCANCEL", IDD_TEST_NO_BUTTONS, EndOnCommandProc,
         [](HWND d) { headless::PressKey(d, VK_ESCAPE); }, kEndBase + IDCANCEL},
    };
    for (const KeyCase& test : cases) {
        seen = Seen();
        EXPECT_EQ(RunModal(test.templateId, test.procedure, test.act), test.result) << test.what;
        EXPECT_EQ(seen.commands.size(), 1u) << test.what;
    }
}

TEST_F(DialogManager, TabVisitsTabStopsInTemplateOrderAndWraps) {
    std::vector<int> visited;
    RunModal(IDD_TEST_ENTRY, EndOnCommandProc, [&](HWND dialog) {
        // User, Password, Go, Cancel; the label is no tab stop, the last box is disabled.
        for (int expected : {IDC_TEST_PASSWORD, IDC_TEST_GO, IDCANCEL, IDC_TEST_USER}) {
            headless::PressKey(dialog, VK_TAB);
            EXPECT_TRUE(WaitForFocus(dialog, expected)) << "expected " << expected;
            visited.push_back(headless::FocusedItem(dialog));
        }
        headless::PressKey(dialog, VK_ESCAPE);
    });
    EXPECT_EQ(visited, (std::vector<int>{IDC_TEST_PASSWORD, IDC_TEST_GO, IDCANCEL, IDC_TEST_USER}));
}

HWND focusAtCommand = nullptr;

INT_PTR CALLBACK NoteFocusProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        focusAtCommand = GetFocus();
        EXPECT_EQ(reinterpret_cast<HWND>(lParam), GetDlgItem(dialog, LOWORD(wParam)));
        EXPECT_EQ(HIWORD(wParam), BN_CLICKED);
    }
    return EndOnCommandProc(dialog, message, wParam, lParam);
}

TEST_F(DialogManager, ClickedButtonTakesTheFocusAndNamesItself) {
    HWND cancel = nullptr;
    RunModal(IDD_TEST_ENTRY, NoteFocusProc, [&](HWND dialog) {
        cancel = GetDlgItem(dialog, IDCANCEL);
        headless::PressButton(dialog, IDCANCEL);
    });
    EXPECT_NE(cancel, nullptr);
    EXPECT_EQ(focusAtCommand, cancel);
}

TEST_F(DialogManager, DialogEndedDuringInitialisationIsNeverShown) {
    uint64_t mark = LastEventSequence();
    EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TEST_ENTRY), nullptr, EndAtInitProc, 0),
              7);
    std::vector<headless::Event> events = EventsAfter(mark);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, headless::EventKind::DialogDestroyed);
}

TEST_F(DialogManager, MissingTemplateFails) {
    EXPECT_EQ(DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(999), nullptr, EndOnCommandProc, 0), -1);
    EXPECT_EQ(Modeless(999, EndOnCommandProc), nullptr);
    EXPECT_EQ(Modeless(IDR_TEST_DATA, EndOnCommandProc), nullptr) << "a resource of another type";
}

TEST_F(DialogManager, ModelessDialogShowsOnShowWindowAndItsPumpHasNoDialogKeys) {
    uint64_t mark = LastEventSequence();
    HWND dialog = Modeless(IDD_TEST_MODELESS, DestroyOnCancelProc);
    ASSERT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(headless::IsShown(dialog));
    EXPECT_TRUE(EventsAfter(mark).empty());

    EXPECT_FALSE(ShowWindow(dialog, SW_SHOWNORMAL)) << "it was hidden before";
    EXPECT_TRUE(ShowWindow(dialog, SW_SHOWNORMAL));
    std::vector<headless::Event> events = EventsAfter(mark);
    ASSERT_EQ(events.size(), 1u) << "shown once";
    EXPECT_EQ(events[0].kind, headless::EventKind::DialogShown);
    EXPECT_EQ(events[0].templateId, IDD_TEST_MODELESS);
    EXPECT_EQ(events[0].title, "Waiting");
    EXPECT_EQ(headless::FocusedItem(dialog), IDCANCEL);

    headless::PressKey(dialog, VK_ESCAPE);
    PumpPending(dialog);
    EXPECT_TRUE(seen.commands.empty()) << "without IsDialogMessageA, Esc is just a key";
    EXPECT_TRUE(IsWindow(dialog));

    headless::PressCloseBox(dialog);
    PumpPending(dialog);
    EXPECT_EQ(seen.commands, std::vector<int>{IDCANCEL});
    EXPECT_FALSE(IsWindow(dialog));
    events = EventsAfter(mark);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, headless::EventKind::DialogDestroyed);
}

TEST_F(DialogManager, DestroyFromInsideTheProcedureDropsWhatWasQueued) {
    HWND dialog = Modeless(IDD_TEST_MODELESS, DestroyOnCancelProc);
    ShowWindow(dialog, SW_SHOWNORMAL);
    HWND progress = GetDlgItem(dialog, IDC_TEST_PROGRESS);
    headless::PressButton(dialog, IDCANCEL);
    headless::PressButton(dialog, IDCANCEL);
    PostMessageA(progress, WM_USER + 50, 0, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, dialog, 0, 0, PM_REMOVE));
    DispatchMessageA(&msg);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(IsWindow(progress));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "the messages of destroyed windows are gone";
    EXPECT_EQ(seen.commands, std::vector<int>{IDCANCEL});
    EXPECT_FALSE(DestroyWindow(dialog));
    EXPECT_FALSE(PostMessageA(dialog, WM_USER, 0, 0));
}

// The listener's way: a thread of its own creates, pumps and destroys its
// dialog; the user acts from the test's thread.
struct WorkerDialog {
    std::thread::id thread;
    std::atomic<HWND> dialog{nullptr};
};

DWORD WINAPI RunWorkerDialog(LPVOID parameter) {
    auto* worker = static_cast<WorkerDialog*>(parameter);
    worker->thread = std::this_thread::get_id();
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TEST_MODELESS), nullptr,
                                     DestroyOnCancelProc, 0);
    worker->dialog = dialog;
    ShowWindow(dialog, SW_SHOWNORMAL);
    while (IsWindow(dialog)) {
        MSG msg;
        while (PeekMessageA(&msg, dialog, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(1);
    }
    return 5;
}

TEST_F(DialogManager, ProceduresRunOnTheThreadThatCreatedTheDialog) {
    uint64_t mark = LastEventSequence();
    WorkerDialog worker;
    HANDLE thread = CreateThread(nullptr, 0, RunWorkerDialog, &worker, 0, nullptr);
    HWND dialog = WaitForDialog(mark, IDD_TEST_MODELESS);
    EXPECT_EQ(headless::FocusedItem(dialog), IDCANCEL) << "the worker thread's focus";
    EXPECT_NE(GetFocus(), GetDlgItem(dialog, IDCANCEL)) << "focus is per thread";
    EXPECT_EQ(SetFocus(GetDlgItem(dialog, IDCANCEL)), nullptr) << "another thread's window cannot take our focus";
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_TEST_PROGRESS, PBM_SETPOS, 40, 0), 0)
        << "control messages work from any thread";
    EXPECT_EQ(headless::ProgressOf(dialog, IDC_TEST_PROGRESS).position, 40);
    headless::PressButton(dialog, IDCANCEL);
    ASSERT_EQ(MsgWaitForMultipleObjects(1, &thread, FALSE, platform_test::kWaitMs, QS_ALLINPUT), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 5u);
    CloseHandle(thread);
    ASSERT_FALSE(seen.threads.empty());
    for (std::thread::id ran : seen.threads) {
        EXPECT_EQ(ran, worker.thread);
    }
    EXPECT_EQ(seen.commands, std::vector<int>{IDCANCEL});
}

TEST_F(DialogManager, ModalLoopWakesForEndDialogFromAnotherThread) {
    uint64_t mark = LastEventSequence();
    User user([&] { EndDialog(WaitForDialog(mark, IDD_TEST_ENTRY), 42); });
    EXPECT_EQ(
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TEST_ENTRY), nullptr, EndOnCommandProc, 0), 42);
}

TEST_F(DialogManager, MessageBoxWaitsForItsAnswer) {
    struct Case {
        const char* caption;
        const char* shownCaption;
        int answer;
    };
    for (const Case& test : {Case{nullptr, "Error", IDOK}, Case{"Own Caption", "Own Caption", IDCANCEL}}) {
        uint64_t mark = LastEventSequence();
        headless::Event shown;
        bool boxShown = false;
        bool stillShown = false;
        int result;
        {
            User user([&] {
                boxShown = platform_test::WaitForKind(mark, headless::EventKind::MessageBoxShown, &shown);
                Sleep(20);
                stillShown = headless::IsShown(shown.window);
                EXPECT_EQ(headless::Title(shown.window), test.shownCaption);
                headless::AnswerMessageBox(shown.window, test.answer);
            });
            result = MessageBoxA(nullptr, "Upgrade Failed: Test", test.caption, MB_TASKMODAL);
        }
        ASSERT_TRUE(boxShown);
        EXPECT_TRUE(stillShown) << "the box waits for its answer";
        EXPECT_EQ(result, test.answer);
        EXPECT_EQ(shown.title, test.shownCaption);
        EXPECT_EQ(shown.text, "Upgrade Failed: Test");
        EXPECT_EQ(shown.type, unsigned(MB_TASKMODAL));
        EXPECT_EQ(shown.templateId, 0);
        headless::Event closed;
        ASSERT_TRUE(platform_test::WaitForKind(shown.sequence, headless::EventKind::MessageBoxClosed, &closed));
        EXPECT_EQ(closed.window, shown.window);
        EXPECT_FALSE(IsWindow(shown.window));
    }
}

}  // namespace
