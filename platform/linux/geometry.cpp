// Where windows are, in pixels.
#include "platform/linux/geometry.h"

namespace layer {

namespace {

// Average character width and height of 8 point MS Sans Serif at 96 dpi: a
// dialog unit is a quarter of the one and an eighth of the other.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;
// The dialog frame on each side, and the caption bar above the client area.
constexpr int kFrame = 3;
constexpr int kCaption = 19;

int Scaled(int value, int base, int divisor) {
    return (value * base + divisor / 2) / divisor;
}

int CaptionOf(DWORD style) {
    return (style & WS_CAPTION) == WS_CAPTION ? kCaption : 0;
}

}  // namespace

RECT DialogUnitsToPixels(int x, int y, int cx, int cy) {
    RECT rect;
    rect.left = Scaled(x, kBaseUnitX, 4);
    rect.top = Scaled(y, kBaseUnitY, 8);
    rect.right = rect.left + Scaled(cx, kBaseUnitX, 4);
    rect.bottom = rect.top + Scaled(cy, kBaseUnitY, 8);
    return rect;
}

RECT DialogWindowRect(const DialogTemplate& dialog) {
    RECT rect = DialogUnitsToPixels(dialog.x, dialog.y, dialog.cx, dialog.cy);
    rect.right += 2 * kFrame;
    rect.bottom += 2 * kFrame + CaptionOf(dialog.style);
    return rect;
}

POINT ClientOrigin(const Window& dialog) {
    POINT origin;
    origin.x = dialog.rect.left + kFrame;
    origin.y = dialog.rect.top + kFrame + CaptionOf(dialog.style);
    return origin;
}

RECT ScreenRect(const Window& window) {
    Window* dialog = window.kind == WindowKind::Dialog ? nullptr : Find(window.parent);
    if (dialog == nullptr) {
        return window.rect;
    }
    POINT origin = ClientOrigin(*dialog);
    RECT rect = window.rect;
    rect.left += origin.x;
    rect.right += origin.x;
    rect.top += origin.y;
    rect.bottom += origin.y;
    return rect;
}

}  // namespace layer
