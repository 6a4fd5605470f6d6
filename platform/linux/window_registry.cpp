// The windows of the headless dialog manager and the lock over its state.
#include "platform/linux/window_registry.h"

#include <map>

namespace layer {

namespace {

struct Registry {
    std::map<uintptr_t, std::unique_ptr<Window>> windows;  // ordered by handle: creation order
    uintptr_t nextHandle = 0x10010;
    std::map<std::thread::id, HWND> focus;
    int screenWidth = 1024;
    int screenHeight = 768;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

uintptr_t Key(HWND handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

}  // namespace

std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
}

std::condition_variable& Changed() {
    static std::condition_variable changed;
    return changed;
}

HWND AddWindow(std::unique_ptr<Window> window) {
    Registry& registry = TheRegistry();
    HWND handle = reinterpret_cast<HWND>(registry.nextHandle);
    registry.nextHandle += 4;
    window->handle = handle;
    registry.windows[Key(handle)] = std::move(window);
    return handle;
}

Window* Find(HWND handle) {
    auto& windows = TheRegistry().windows;
    auto found = windows.find(Key(handle));
    return found == windows.end() ? nullptr : found->second.get();
}

void Remove(HWND handle) {
    TheRegistry().windows.erase(Key(handle));
}

std::vector<Window*> WindowsInCreationOrder() {
    std::vector<Window*> all;
    for (auto& entry : TheRegistry().windows) {
        all.push_back(entry.second.get());
    }
    return all;
}

Window* FindItem(const Window& dialog, int id) {
    for (HWND child : dialog.children) {
        Window* control = Find(child);
        if (control != nullptr && static_cast<WORD>(control->id) == static_cast<WORD>(id)) {
            return control;
        }
    }
    return nullptr;
}

bool IsWithin(HWND window, HWND ancestor) {
    for (Window* current = Find(window); current != nullptr; current = Find(current->parent)) {
        if (current->handle == ancestor) {
            return true;
        }
        if (current->kind == WindowKind::Dialog) {
            return false;  // a dialog's parent is its owner, not a container
        }
    }
    return false;
}

Window* DialogOf(Window* window) {
    if (window == nullptr || window->kind == WindowKind::Dialog) {
        return window;
    }
    Window* parent = Find(window->parent);
    return parent != nullptr && parent->kind == WindowKind::Dialog ? parent : nullptr;
}

HWND FocusOf(std::thread::id thread) {
    auto& focus = TheRegistry().focus;
    auto found = focus.find(thread);
    if (found == focus.end() || Find(found->second) == nullptr) {
        return nullptr;
    }
    return found->second;
}

void SetFocusOf(std::thread::id thread, HWND window) {
    TheRegistry().focus[thread] = window;
}

int ScreenWidth() {
    return TheRegistry().screenWidth;
}
int ScreenHeight() {
    return TheRegistry().screenHeight;
}

void SetScreen(int width, int height) {
    TheRegistry().screenWidth = width;
    TheRegistry().screenHeight = height;
}

}  // namespace layer
