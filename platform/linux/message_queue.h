// Per-thread message queues of the headless dialog manager. A message posted
// to a window goes to the queue of the thread that created the window.
#pragma once

#include "platform/win.h"

#include <thread>

namespace layer {

// The functions below need the manager's lock held.
void PostToThread(std::thread::id thread, const MSG& msg);
// Takes (or, without `remove`, copies) the oldest message of `thread` for
// `window` or its controls (any window when `window` is null) whose number
// lies in filterMin..filterMax (0..0: any number).
bool TakeMessage(std::thread::id thread, HWND window, UINT filterMin, UINT filterMax, bool remove, MSG* msg);
// Drops the queued messages of a window that is being destroyed.
void DropMessagesFor(HWND window);
// A descriptor that turns readable when a message is posted to `thread`
// after its last look at its queue (a peek or a get), as a message wait
// sees new input.
int MessageWakeDescriptor(std::thread::id thread);

}  // namespace layer
