// The built-in controls of the headless dialog manager: edit, static,
// button, combo box list, progress bar and IPv4 address control, made from
// their template items, and the messages they handle on their own.
#pragma once

#include "platform/linux/dialog_template.h"
#include "platform/linux/window_registry.h"

#include <memory>
#include <string>

namespace layer {

std::unique_ptr<Window> MakeControl(const DialogItem& item, HWND dialog, std::thread::id owner);

bool IsPushButton(const Window& window);

// The text WM_GETTEXT gives: a blank address control reads "0.0.0.0", a
// combo box list its selected entry.
std::string TextOf(const Window& window);
// Copies at most maxCount - 1 characters and a NUL; returns the count copied.
int CopyText(const std::string& text, char* buffer, int maxCount);

// Handles a message that needs no procedure (text, list, progress and address
// messages). Needs the lock held. False when the control has no built-in
// answer to the message.
bool HandleControlMessage(Window* control, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

}  // namespace layer
