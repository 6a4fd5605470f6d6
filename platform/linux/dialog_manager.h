// How messages reach windows: a dialog's procedure with the default dialog
// handling behind it, or a control's built-in behaviour.
#pragma once

#include "platform/win.h"

namespace layer {

// Runs on the calling thread, which must own the window when a procedure is
// to be called. Takes the lock itself; never holds it while a procedure runs.
LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace layer
