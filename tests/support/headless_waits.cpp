// Waits on what the headless dialog manager reports, for tests.
#include "tests/support/headless_waits.h"

#include <chrono>
#include <thread>

uint64_t LastEventSequence() {
    std::vector<headless::Event> events = headless::Events();
    return events.empty() ? 0 : events.back().sequence;
}

bool WaitForDialog(uint64_t after, int templateId, int timeoutMs, HWND* window, uint64_t* sequence) {
    headless::Event found;
    bool seen = headless::WaitForEvent(
        after, timeoutMs,
        [templateId](const headless::Event& event) {
            return event.kind == headless::EventKind::DialogShown && event.templateId == templateId;
        },
        &found);
    *window = seen ? found.window : nullptr;
    if (seen && sequence != nullptr) {
        *sequence = found.sequence;
    }
    return seen;
}

bool WaitForMessageBox(uint64_t after, int timeoutMs, headless::Event* box) {
    return headless::WaitForEvent(
        after, timeoutMs,
        [](const headless::Event& event) { return event.kind == headless::EventKind::MessageBoxShown; }, box);
}

bool WaitForMessageBox(uint64_t after, int timeoutMs, std::string* text, HWND* box, uint64_t* sequence) {
    headless::Event found;
    if (!WaitForMessageBox(after, timeoutMs, &found)) {
        return false;
    }
    *text = found.text;
    *box = found.window;
    if (sequence != nullptr) {
        *sequence = found.sequence;
    }
    return true;
}

bool WaitForDestroyed(uint64_t after, HWND dialog, int timeoutMs) {
    return headless::WaitForEvent(
        after, timeoutMs,
        [dialog](const headless::Event& event) {
            return event.kind == headless::EventKind::DialogDestroyed && event.window == dialog;
        },
        nullptr);
}

bool WaitUntil(int timeoutMs, const std::function<bool()>& holds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!holds()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
