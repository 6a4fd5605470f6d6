// user32 and comctl32 calls on single windows: texts, items, focus,
// placement, window classes and the common-control start-up.
#include "platform/linux/controls.h"
#include "platform/linux/geometry.h"
#include "platform/linux/window_registry.h"

#include <set>
#include <string>

namespace {

using Lock = std::lock_guard<std::mutex>;

constexpr ATOM kFirstClassAtom = 0xC000;  // where registered classes start on Windows

layer::Window* ItemOf(HWND dialog, int id) {
    layer::Window* window = layer::Find(dialog);
    return window == nullptr ? nullptr : layer::FindItem(*window, id);
}

BOOL SetText(layer::Window* window, LPCSTR text) {
    if (window == nullptr || window->kind == layer::WindowKind::ComboBox) {
        return FALSE;
    }
    window->text = text == nullptr ? "" : text;
    return TRUE;
}

int GetText(const layer::Window* window, LPSTR text, int maxCount) {
    if (window == nullptr) {
        return layer::CopyText("", text, maxCount);
    }
    return layer::CopyText(layer::TextOf(*window), text, maxCount);
}

}  // namespace

BOOL IsWindow(HWND window) {
    Lock lock(layer::Mutex());
    return layer::Find(window) != nullptr;
}

BOOL SetWindowTextA(HWND window, LPCSTR text) {
    Lock lock(layer::Mutex());
    return SetText(layer::Find(window), text);
}

BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    Lock lock(layer::Mutex());
    return SetText(ItemOf(dialog, id), text);
}

UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int maxCount) {
    Lock lock(layer::Mutex());
    return static_cast<UINT>(GetText(ItemOf(dialog, id), text, maxCount));
}

HWND GetDlgItem(HWND dialog, int id) {
    Lock lock(layer::Mutex());
    layer::Window* item = ItemOf(dialog, id);
    return item == nullptr ? nullptr : item->handle;
}

HWND SetFocus(HWND window) {
    Lock lock(layer::Mutex());
    std::thread::id self = std::this_thread::get_id();
    HWND previous = layer::FocusOf(self);
    if (window != nullptr) {
        layer::Window* target = layer::Find(window);
        if (target == nullptr || target->owner != self) {
            return nullptr;  // only a window of the calling thread can take its focus
        }
    }
    layer::SetFocusOf(self, window);
    return previous;
}

HWND GetFocus() {
    Lock lock(layer::Mutex());
    return layer::FocusOf(std::this_thread::get_id());
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    Lock lock(layer::Mutex());
    layer::Window* target = layer::Find(window);
    if (target == nullptr || rect == nullptr) {
        return FALSE;
    }
    *rect = layer::ScreenRect(*target);
    return TRUE;
}

int GetSystemMetrics(int index) {
    Lock lock(layer::Mutex());
    switch (index) {
        case SM_CXSCREEN:
            return layer::ScreenWidth();
        case SM_CYSCREEN:
            return layer::ScreenHeight();
        default:
            return 0;
    }
}

BOOL SetWindowPos(HWND window, HWND, int x, int y, int cx, int cy, UINT flags) {
    Lock lock(layer::Mutex());
    layer::Window* target = layer::Find(window);
    if (target == nullptr) {
        return FALSE;
    }
    RECT& rect = target->rect;
    if (flags & SWP_NOSIZE) {
        cx = rect.right - rect.left;
        cy = rect.bottom - rect.top;
    }
    rect.left = x;
    rect.top = y;
    rect.right = x + cx;
    rect.bottom = y + cy;
    return TRUE;
}

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
    static std::set<std::string> names;
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr || windowClass->lpfnWndProc == nullptr) {
        return 0;
    }
    Lock lock(layer::Mutex());
    if (!names.insert(windowClass->lpszClassName).second) {
        return 0;  // already registered
    }
    return static_cast<ATOM>(kFirstClassAtom + names.size() - 1);
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) {
    return controls != nullptr && controls->dwSize == sizeof(INITCOMMONCONTROLSEX);
}
