// Test driver of the headless dialog manager: what a person at the screen
// would see and do, for tests and the scenario runner of the native build.
// Every call is safe from any thread; the program's own threads keep running
// their dialog procedures and message loops as they would on Windows.
#pragma once

#include "platform/win.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace headless {

enum class EventKind {
    DialogShown,      // a dialog became visible (modal at creation, modeless on ShowWindow)
    DialogDestroyed,  // a dialog window was destroyed (EndDialog or DestroyWindow)
    MessageBoxShown,  // MessageBoxA is waiting for an answer
    MessageBoxClosed,
    ProcessExit,  // ExitProcess was called; `exitCode` holds its argument
};

struct Event {
    uint64_t sequence = 0;  // 1, 2, 3 ... in the order things happened
    EventKind kind = EventKind::DialogShown;
    HWND window = nullptr;  // the dialog or message box
    int templateId = 0;     // dialog template id; 0 for a message box
    std::string title;      // title at the time of the event (caption of a message box)
    std::string text;       // text of a message box
    unsigned type = 0;      // MessageBoxA type of a message box
    int exitCode = 0;
};

// Every event so far, oldest first.
std::vector<Event> Events();

// Waits until an event with a sequence number above `after` exists that
// `match` accepts, or until `timeoutMs` passes. Returns false on time-out.
bool WaitForEvent(uint64_t after, int timeoutMs, const std::function<bool(const Event&)>& match, Event* found);

// Reading what is on the screen. A window that no longer exists reads as empty.
bool IsShown(HWND window);
int TemplateId(HWND dialog);
std::string Title(HWND window);
std::string ItemText(HWND dialog, int id);
bool HasItem(HWND dialog, int id);
struct Progress {
    int minimum = 0;
    int maximum = 100;
    int position = 0;
};
Progress ProgressOf(HWND dialog, int id);
std::vector<std::string> ListEntries(HWND dialog, int id);
int ListSelection(HWND dialog, int id);  // CB_ERR when nothing is selected
int FocusedItem(HWND dialog);            // control id with the focus, 0 when none
std::vector<HWND> ShownDialogs();        // visible dialogs, oldest first

// Acting as the user. Clicks and keys are queued to the dialog's own thread
// and handled there by its message loop, as on Windows.
void TypeText(HWND dialog, int id, const std::string& text);  // focus the control and replace its text
void PickEntry(HWND dialog, int id, int index);
void PressButton(HWND dialog, int id);
void PressKey(HWND dialog, int virtualKey);  // VK_RETURN or VK_ESCAPE to the focused control
void PressCloseBox(HWND dialog);
void AnswerMessageBox(HWND box, int result);  // result IDOK for the only button of MB_OK

// Called by ExitProcess on the exiting thread before the process ends, so a
// test can finish its checks. The hook may block for a short while.
void SetExitHook(std::function<void(int exitCode)> hook);

// What the program passed to OutputDebugStringA since the last call, in
// order (kept up to 4 MiB; older text is dropped first).
std::string TakeDebugOutput();

// Test clock. timeGetTime() returns the monotonic milliseconds plus an
// offset, so a test can start the 32-bit clock just before it wraps.
void SetClockOffset(uint32_t offset);

// Screen size reported by GetSystemMetrics (default 1024 x 768).
void SetScreenSize(int width, int height);

// Makes the next WSAStartup fail, as a broken network stack would.
void FailNextWsaStartup();
// Makes the next dialog of this template fail to be created, as when the
// system runs out of window resources: DialogBoxParamA gives -1 and
// CreateDialogParamA null. 0 clears it.
void FailNextDialog(int templateId);
// Makes the next CreateThread fail and give a null handle.
void FailNextThreadStart();

}  // namespace headless
