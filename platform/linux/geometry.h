// Where windows are, in pixels: dialog units turned into pixels with a fixed
// base unit (8 point MS Sans Serif at 96 dpi), and a fixed frame and caption
// around a dialog's client area.
#pragma once

#include "platform/linux/dialog_template.h"
#include "platform/linux/window_registry.h"

namespace layer {

RECT DialogUnitsToPixels(int x, int y, int cx, int cy);
// The outer rectangle of a dialog placed on the screen by its template.
RECT DialogWindowRect(const DialogTemplate& dialog);
// The screen position of a dialog's client area.
POINT ClientOrigin(const Window& dialog);
// A window's outer rectangle in screen coordinates. Needs the lock held.
RECT ScreenRect(const Window& window);

}  // namespace layer
