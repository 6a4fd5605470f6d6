// Per-thread message queues of the headless dialog manager. A message posted
// to a window goes to the queue of the thread that created the window; one
// sent from another thread waits there until that thread runs it.
#pragma once

#include "platform/win.h"

#include <mutex>
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

// Sends to a window of another thread, as Windows does: the message waits
// for `owner` to look at its queue, runs there, and its result comes back.
// `lock` holds the manager's lock, and is released while the sender waits.
LRESULT SendToOwner(std::thread::id owner, const MSG& msg, std::unique_lock<std::mutex>* lock);
// Runs what other threads sent to the calling thread, without the lock.
void RunSentMessages(std::unique_lock<std::mutex>* lock);

// How a message reaches a window on its own thread (dialog_manager.cpp).
// Takes the lock itself.
LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace layer
