// The windows of the headless dialog manager: every dialog, control and
// message box by its handle, with the one lock that guards all of the
// manager's state (windows, queues, focus, events). A handle is valid from
// its creation until its window is destroyed; it is never reused.
#pragma once

#include "platform/win.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace layer {

enum class WindowKind {
    Dialog,
    Button,
    Edit,
    Static,
    ComboBox,
    Progress,
    IpAddress,
    MessageBox,
    Other,  // a class the manager has no behaviour for
};

struct Window {
    HWND handle = nullptr;
    WindowKind kind = WindowKind::Other;
    std::thread::id owner;  // the creating thread: its queue gets the window's messages
    HWND parent = nullptr;  // the dialog of a control; the owner window of a dialog
    int id = 0;             // control id; -1 for 0xFFFF
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT rect = {};  // pixels: screen for a dialog, the dialog's client area for a control
    std::string text;
    bool visible = false;

    // Dialogs
    int templateId = 0;
    DLGPROC procedure = nullptr;
    std::vector<HWND> children;  // template order, which is the tab order
    bool ended = false;          // EndDialog was called
    INT_PTR result = 0;

    // Combo box
    std::vector<std::string> entries;
    int selection = CB_ERR;

    // Progress bar
    int minimum = 0;
    int maximum = 100;
    int position = 0;

    // Message box: `text` holds the caption
    std::string body;
    unsigned type = 0;
    bool answered = false;
    int answer = 0;
};

// The lock of all manager state, and the condition signalled at every change
// that someone may wait for (a posted message, an event, an answer).
std::mutex& Mutex();
std::condition_variable& Changed();

// The functions below need the lock held.
HWND AddWindow(std::unique_ptr<Window> window);
Window* Find(HWND handle);  // null for a handle that is not (or no longer) valid
void Remove(HWND handle);
std::vector<Window*> WindowsInCreationOrder();
Window* FindItem(const Window& dialog, int id);
// True when `window` is `ancestor` or one of its controls.
bool IsWithin(HWND window, HWND ancestor);
// The dialog a control belongs to, or the dialog itself.
Window* DialogOf(Window* window);

// Per-thread keyboard focus, as on Windows.
HWND FocusOf(std::thread::id thread);
void SetFocusOf(std::thread::id thread, HWND window);

int ScreenWidth();
int ScreenHeight();
void SetScreen(int width, int height);

}  // namespace layer
