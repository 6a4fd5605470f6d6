// The test driver of the headless dialog manager (headless.h): reading what
// the dialogs show, and acting as the user through each dialog's own queue.
#include "platform/linux/headless.h"

#include "platform/linux/controls.h"
#include "platform/linux/event_log.h"
#include "platform/linux/message_queue.h"
#include "platform/linux/window_registry.h"

#include <algorithm>
#include <chrono>

namespace headless {

namespace {

using Lock = std::lock_guard<std::mutex>;

layer::Window* ItemOf(HWND dialog, int id) {
    layer::Window* window = layer::Find(dialog);
    return window == nullptr ? nullptr : layer::FindItem(*window, id);
}

void Post(const layer::Window& window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg = {};
    msg.hwnd = window.handle;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = timeGetTime();
    layer::PostToThread(window.owner, msg);
}

// A control's notification to its dialog (WM_COMMAND with the code).
void Notify(HWND dialog, const layer::Window& item, WORD code) {
    layer::Window* window = layer::Find(dialog);
    if (window != nullptr) {
        Post(*window, WM_COMMAND, MAKEWPARAM(item.id, code), reinterpret_cast<LPARAM>(item.handle));
    }
}

}  // namespace

std::vector<Event> Events() {
    Lock lock(layer::Mutex());
    return layer::RecordedEvents();
}

bool WaitForEvent(uint64_t after, int timeoutMs, const std::function<bool(const Event&)>& match, Event* found) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(layer::Mutex());
    const std::vector<Event>& events = layer::RecordedEvents();
    size_t checked = std::min(static_cast<size_t>(after), events.size());  // event n sits at index n - 1
    while (true) {
        std::vector<Event> fresh(events.begin() + static_cast<std::ptrdiff_t>(checked), events.end());
        checked = events.size();
        // `match` may call the driver, so it runs without the lock.
        lock.unlock();
        for (const Event& event : fresh) {
            if (match(event)) {
                if (found != nullptr) {
                    *found = event;
                }
                return true;
            }
        }
        lock.lock();
        if (!layer::Changed().wait_until(lock, deadline, [&] { return events.size() > checked; })) {
            return false;
        }
    }
}

bool IsShown(HWND window) {
    Lock lock(layer::Mutex());
    layer::Window* target = layer::Find(window);
    return target != nullptr && target->visible;
}

int TemplateId(HWND dialog) {
    Lock lock(layer::Mutex());
    layer::Window* window = layer::Find(dialog);
    return window == nullptr ? 0 : window->templateId;
}

std::string Title(HWND window) {
    Lock lock(layer::Mutex());
    layer::Window* target = layer::Find(window);
    return target == nullptr ? std::string() : target->text;
}

std::string ItemText(HWND dialog, int id) {
    Lock lock(layer::Mutex());
    layer::Window* item = ItemOf(dialog, id);
    return item == nullptr ? std::string() : layer::TextOf(*item);
}

bool HasItem(HWND dialog, int id) {
    Lock lock(layer::Mutex());
    return ItemOf(dialog, id) != nullptr;
}

Progress ProgressOf(HWND dialog, int id) {
    Lock lock(layer::Mutex());
    Progress progress;
    layer::Window* item = ItemOf(dialog, id);
    if (item != nullptr && item->kind == layer::WindowKind::Progress) {
        progress.minimum = item->minimum;
        progress.maximum = item->maximum;
        progress.position = item->position;
    }
    return progress;
}

std::vector<std::string> ListEntries(HWND dialog, int id) {
    Lock lock(layer::Mutex());
    layer::Window* item = ItemOf(dialog, id);
    return item == nullptr ? std::vector<std::string>() : item->entries;
}

int ListSelection(HWND dialog, int id) {
    Lock lock(layer::Mutex());
    layer::Window* item = ItemOf(dialog, id);
    return item == nullptr ? CB_ERR : item->selection;
}

int FocusedItem(HWND dialog) {
    Lock lock(layer::Mutex());
    layer::Window* window = layer::Find(dialog);
    if (window == nullptr) {
        return 0;
    }
    layer::Window* focus = layer::Find(layer::FocusOf(window->owner));
    return focus != nullptr && focus->parent == dialog ? focus->id : 0;
}

std::vector<HWND> ShownDialogs() {
    Lock lock(layer::Mutex());
    std::vector<HWND> shown;
    for (layer::Window* window : layer::WindowsInCreationOrder()) {
        if (window->kind == layer::WindowKind::Dialog && window->visible) {
            shown.push_back(window->handle);
        }
    }
    return shown;
}

void TypeText(HWND dialog, int id, const std::string& text) {
    Lock lock(layer::Mutex());
    layer::Window* item = ItemOf(dialog, id);
    if (item == nullptr || item->kind == layer::WindowKind::ComboBox) {
        return;
    }
    layer::SetFocusOf(item->owner, item->handle);
    item->text = text;  // as typed, even where the control would refuse it
    // The control tells its dialog, as typing does on Windows.
    Notify(dialog, *item, EN_CHANGE);
}

void PickEntry(HWND dialog, int id, int index) {
    Lock lock(layer::Mutex());
    layer::Window* item = ItemOf(dialog, id);
    if (item == nullptr || item->kind != layer::WindowKind::ComboBox) {
        return;
    }
    layer::SetFocusOf(item->owner, item->handle);
    bool exists = index >= 0 && index < static_cast<int>(item->entries.size());
    item->selection = exists ? index : CB_ERR;
    Notify(dialog, *item, CBN_SELCHANGE);
}

void PressButton(HWND dialog, int id) {
    Lock lock(layer::Mutex());
    layer::Window* item = ItemOf(dialog, id);
    if (item != nullptr && item->kind == layer::WindowKind::Button) {
        Post(*item, BM_CLICK, 0, 0);
    }
}

void PressKey(HWND dialog, int virtualKey) {
    Lock lock(layer::Mutex());
    layer::Window* window = layer::Find(dialog);
    if (window == nullptr) {
        return;
    }
    layer::Window* focus = layer::Find(layer::FocusOf(window->owner));
    bool focusInDialog = focus != nullptr && focus->parent == dialog;
    Post(focusInDialog ? *focus : *window, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 1);
}

void PressCloseBox(HWND dialog) {
    Lock lock(layer::Mutex());
    layer::Window* window = layer::Find(dialog);
    if (window != nullptr && window->kind == layer::WindowKind::Dialog) {
        Post(*window, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
}

void AnswerMessageBox(HWND box, int result) {
    Lock lock(layer::Mutex());
    layer::Window* window = layer::Find(box);
    if (window == nullptr || window->kind != layer::WindowKind::MessageBox || window->answered) {
        return;
    }
    window->answered = true;
    window->answer = result;
    window->visible = false;
    layer::Changed().notify_all();
}

void SetScreenSize(int width, int height) {
    Lock lock(layer::Mutex());
    layer::SetScreen(width, height);
}

}  // namespace headless
