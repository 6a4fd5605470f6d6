// The headless dialog manager: dialogs built from their templates, modal and
// modeless, the delivery of messages to procedures and controls, and the
// dialog keyboard of IsDialogMessageA.
#include "platform/linux/controls.h"
#include "platform/linux/dialog_template.h"
#include "platform/linux/event_log.h"
#include "platform/linux/geometry.h"
#include "platform/linux/message_queue.h"
#include "platform/linux/window_registry.h"
#include "platform/win.h"

#include <atomic>

namespace layer {

namespace {

using Lock = std::lock_guard<std::mutex>;

void RecordDialogEvent(headless::EventKind kind, const Window& dialog) {
    headless::Event event;
    event.kind = kind;
    event.window = dialog.handle;
    event.templateId = dialog.templateId;
    event.title = dialog.text;
    RecordEvent(event);
}

void MakeVisible(Window* window) {
    if (window->visible) {
        return;
    }
    window->visible = true;
    if (window->kind == WindowKind::Dialog) {
        RecordDialogEvent(headless::EventKind::DialogShown, *window);
    }
}

bool CanTakeFocus(const Window& control) {
    return (control.style & WS_TABSTOP) && (control.style & WS_VISIBLE) && !(control.style & WS_DISABLED);
}

// The next tab stop after `from` in template order, wrapping; with `from`
// null or outside the dialog, the first one.
HWND NextTabStop(const Window& dialog, HWND from) {
    size_t count = dialog.children.size();
    size_t start = count;
    for (size_t i = 0; i < count; ++i) {
        if (dialog.children[i] == from) {
            start = i;
        }
    }
    for (size_t step = 1; step <= count; ++step) {
        size_t index = start == count ? step - 1 : (start + step) % count;
        Window* control = Find(dialog.children[index]);
        if (control != nullptr && CanTakeFocus(*control)) {
            return control->handle;
        }
    }
    return nullptr;
}

Window* DefaultPushButton(const Window& dialog) {
    for (HWND child : dialog.children) {
        Window* control = Find(child);
        if (control != nullptr && IsPushButton(*control) && (control->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            return control;
        }
    }
    return nullptr;
}

void DestroyLocked(Window* window) {
    HWND handle = window->handle;
    for (HWND child : window->children) {
        DropMessagesFor(child);
        Remove(child);
    }
    if (window->kind == WindowKind::Dialog) {
        window->visible = false;
        RecordDialogEvent(headless::EventKind::DialogDestroyed, *window);
    } else if (Window* parent = Find(window->parent)) {
        auto& siblings = parent->children;
        for (auto it = siblings.begin(); it != siblings.end(); ++it) {
            if (*it == handle) {
                siblings.erase(it);
                break;
            }
        }
    }
    DropMessagesFor(handle);
    Remove(handle);
    Changed().notify_all();
}

bool LoadTemplate(LPCSTR name, DialogTemplate* out) {
    HRSRC resource = FindResourceA(nullptr, name, RT_DIALOG);
    if (resource == nullptr) {
        return false;
    }
    auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(nullptr, resource)));
    return bytes != nullptr && ParseDialogTemplate(bytes, SizeofResource(nullptr, resource), out);
}

HWND BuildDialog(const DialogTemplate& layout, LPCSTR name, HWND owner, DLGPROC procedure) {
    std::thread::id self = std::this_thread::get_id();
    auto dialog = std::make_unique<Window>();
    dialog->kind = WindowKind::Dialog;
    dialog->owner = self;
    dialog->parent = owner;
    dialog->style = layout.style;
    dialog->exStyle = layout.exStyle;
    dialog->rect = DialogWindowRect(layout);
    dialog->text = layout.title;
    dialog->templateId = IS_INTRESOURCE(name) ? static_cast<int>(reinterpret_cast<uintptr_t>(name)) : 0;
    dialog->procedure = procedure;
    HWND handle = AddWindow(std::move(dialog));
    std::vector<HWND> children;
    for (const DialogItem& item : layout.items) {
        children.push_back(AddWindow(MakeControl(item, handle, self)));
    }
    Find(handle)->children = children;
    return handle;
}

INT_PTR CallProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    DLGPROC procedure = nullptr;
    {
        Lock lock(Mutex());
        Window* window = Find(dialog);
        if (window == nullptr) {
            return 0;
        }
        procedure = window->procedure;
    }
    return procedure == nullptr ? FALSE : procedure(dialog, message, wParam, lParam);
}

HWND ItemHandle(HWND dialog, int id) {
    Lock lock(Mutex());
    Window* window = Find(dialog);
    Window* item = window == nullptr ? nullptr : FindItem(*window, id);
    return item == nullptr ? nullptr : item->handle;
}

LRESULT SendCommand(HWND dialog, int id, HWND control) {
    return Deliver(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

// What the system's dialog procedure does with a message the dialog's own
// procedure left alone (returned FALSE for).
LRESULT DefaultDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_CLOSE) {
                return Deliver(dialog, WM_CLOSE, 0, 0);
            }
            return 0;
        case WM_CLOSE: {
            HWND cancel = ItemHandle(dialog, IDCANCEL);
            {
                Lock lock(Mutex());
                Window* button = Find(cancel);
                if (button != nullptr && (button->style & WS_DISABLED)) {
                    return 0;
                }
            }
            return SendCommand(dialog, IDCANCEL, cancel);
        }
        default: {
            Lock lock(Mutex());
            Window* window = Find(dialog);
            LRESULT result = 0;
            if (window != nullptr) {
                HandleControlMessage(window, message, wParam, lParam, &result);
            }
            return result;
        }
    }
}

LRESULT DeliverToDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR handled = CallProcedure(dialog, message, wParam, lParam);
    return handled ? handled : DefaultDialogMessage(dialog, message, wParam, lParam);
}

// A click on a push button: it takes the focus and tells its dialog.
LRESULT ClickButton(HWND button) {
    HWND dialog = nullptr;
    int id = 0;
    {
        Lock lock(Mutex());
        Window* window = Find(button);
        if (window == nullptr || (window->style & WS_DISABLED)) {
            return 0;
        }
        SetFocusOf(window->owner, button);
        dialog = window->parent;
        id = window->id;
    }
    SendCommand(dialog, id, button);
    return 0;
}

// Which command Enter gives: the focused push button, else the default push
// button, else IDOK. Needs the lock held; false when the button is disabled.
bool EnterCommand(const Window& dialog, int* id, HWND* control) {
    Window* focus = Find(FocusOf(dialog.owner));
    if (focus != nullptr && focus->parent == dialog.handle && IsPushButton(*focus)) {
        *id = focus->id;
        *control = focus->handle;
        return true;
    }
    Window* button = DefaultPushButton(dialog);
    if (button == nullptr) {
        button = FindItem(dialog, IDOK);
        *id = IDOK;
        *control = button == nullptr ? nullptr : button->handle;
        return true;
    }
    *id = button->id;
    *control = button->handle;
    return !(button->style & WS_DISABLED);
}

bool HandleDialogKey(HWND dialog, WPARAM key) {
    switch (key) {
        case VK_ESCAPE:
            SendCommand(dialog, IDCANCEL, ItemHandle(dialog, IDCANCEL));
            return true;
        case VK_RETURN: {
            int id = 0;
            HWND control = nullptr;
            bool enabled = false;
            {
                Lock lock(Mutex());
                Window* window = Find(dialog);
                enabled = window != nullptr && EnterCommand(*window, &id, &control);
            }
            if (enabled) {
                SendCommand(dialog, id, control);
            }
            return true;
        }
        case VK_TAB: {
            Lock lock(Mutex());
            Window* window = Find(dialog);
            HWND next = window == nullptr ? nullptr : NextTabStop(*window, FocusOf(window->owner));
            if (next != nullptr) {
                SetFocusOf(window->owner, next);
            }
            return true;
        }
        default:
            return false;
    }
}

std::atomic<int> failingTemplate{0};

bool CreationFails(LPCSTR name) {
    int id = IS_INTRESOURCE(name) ? static_cast<int>(reinterpret_cast<uintptr_t>(name)) : 0;
    int expected = id;
    return id != 0 && failingTemplate.compare_exchange_strong(expected, 0);
}

// Builds the dialog and runs WM_INITDIALOG; null when the template is
// missing or the procedure destroyed the dialog.
HWND CreateFromTemplate(LPCSTR name, HWND owner, DLGPROC procedure, LPARAM parameter) {
    DialogTemplate layout;
    if (CreationFails(name) || !LoadTemplate(name, &layout)) {
        return nullptr;
    }
    HWND dialog = nullptr;
    HWND firstTabStop = nullptr;
    {
        Lock lock(Mutex());
        dialog = BuildDialog(layout, name, owner, procedure);
        firstTabStop = NextTabStop(*Find(dialog), nullptr);
    }
    INT_PTR setDefaultFocus = CallProcedure(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop), parameter);
    Lock lock(Mutex());
    Window* window = Find(dialog);
    if (window == nullptr) {
        return nullptr;
    }
    if (setDefaultFocus && Find(firstTabStop) != nullptr) {
        SetFocusOf(window->owner, firstTabStop);
    }
    return dialog;
}

bool ModalLoopGoesOn(HWND dialog) {
    Lock lock(Mutex());
    Window* window = Find(dialog);
    return window != nullptr && !window->ended;
}

}  // namespace

// A dialog's procedure with the default dialog handling behind it, or a
// control's built-in behaviour. A procedure runs on the thread that created
// its dialog, whoever sent the message; the lock is never held while it runs.
LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowKind kind = WindowKind::Other;
    {
        std::unique_lock<std::mutex> lock(Mutex());
        Window* target = Find(window);
        if (target == nullptr) {
            return 0;
        }
        kind = target->kind;
        if (kind != WindowKind::Dialog && !(kind == WindowKind::Button && message == BM_CLICK)) {
            LRESULT result = 0;
            HandleControlMessage(target, message, wParam, lParam, &result);
            return result;
        }
        if (target->owner != std::this_thread::get_id()) {
            MSG msg = {window, message, wParam, lParam, 0, {0, 0}};
            return SendToOwner(target->owner, msg, &lock);
        }
    }
    return kind == WindowKind::Dialog ? DeliverToDialog(window, message, wParam, lParam) : ClickButton(window);
}

}  // namespace layer

using layer::Lock;

INT_PTR DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC procedure, LPARAM parameter) {
    HWND dialog = layer::CreateFromTemplate(templateName, owner, procedure, parameter);
    if (dialog == nullptr) {
        return -1;
    }
    {
        Lock lock(layer::Mutex());
        layer::Window* window = layer::Find(dialog);
        if (!window->ended) {
            layer::MakeVisible(window);
        }
    }
    while (layer::ModalLoopGoesOn(dialog)) {
        MSG msg;
        GetMessageA(&msg, nullptr, 0, 0);
        if (!IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    Lock lock(layer::Mutex());
    layer::Window* window = layer::Find(dialog);
    if (window == nullptr) {
        return 0;  // destroyed without EndDialog
    }
    INT_PTR result = window->result;
    layer::DestroyLocked(window);
    return result;
}

HWND CreateDialogParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC procedure, LPARAM parameter) {
    HWND dialog = layer::CreateFromTemplate(templateName, owner, procedure, parameter);
    if (dialog == nullptr) {
        return nullptr;
    }
    Lock lock(layer::Mutex());
    layer::Window* window = layer::Find(dialog);
    if (window->style & WS_VISIBLE) {
        layer::MakeVisible(window);
    }
    return dialog;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    Lock lock(layer::Mutex());
    layer::Window* window = layer::Find(dialog);
    if (window == nullptr || window->kind != layer::WindowKind::Dialog) {
        return FALSE;
    }
    window->ended = true;
    window->result = result;
    window->visible = false;
    if (window->owner != std::this_thread::get_id()) {
        MSG wake = {};
        wake.hwnd = dialog;
        wake.message = WM_NULL;
        layer::PostToThread(window->owner, wake);  // the modal loop waits in GetMessageA
    }
    return TRUE;
}

BOOL DestroyWindow(HWND window) {
    Lock lock(layer::Mutex());
    layer::Window* target = layer::Find(window);
    if (target == nullptr || target->owner != std::this_thread::get_id() ||
        target->kind == layer::WindowKind::MessageBox) {
        return FALSE;
    }
    layer::DestroyLocked(target);
    return TRUE;
}

BOOL ShowWindow(HWND window, int command) {
    Lock lock(layer::Mutex());
    layer::Window* target = layer::Find(window);
    if (target == nullptr) {
        return FALSE;
    }
    BOOL wasVisible = target->visible;
    if (command == SW_HIDE) {
        target->visible = false;
    } else {
        layer::MakeVisible(target);
    }
    return wasVisible;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return layer::Deliver(window, message, wParam, lParam);
}

LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    return layer::Deliver(layer::ItemHandle(dialog, id), message, wParam, lParam);
}

LRESULT DispatchMessageA(const MSG* msg) {
    return layer::Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL IsDialogMessageA(HWND dialog, MSG* msg) {
    {
        Lock lock(layer::Mutex());
        if (layer::Find(dialog) == nullptr || !layer::IsWithin(msg->hwnd, dialog)) {
            return FALSE;
        }
    }
    if (msg->message == WM_KEYDOWN && layer::HandleDialogKey(dialog, msg->wParam)) {
        return TRUE;
    }
    DispatchMessageA(msg);
    return TRUE;
}

namespace headless {

void FailNextDialog(int templateId) {
    layer::failingTemplate = templateId;
}

}  // namespace headless
