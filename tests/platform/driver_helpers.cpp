// Helpers of the platform tests.
#include "driver_helpers.h"

#include <cstdio>
#include <cstdlib>

namespace platform_test {

uint64_t LastSequence() {
    std::vector<headless::Event> events = headless::Events();
    return events.empty() ? 0 : events.back().sequence;
}

HWND WaitForDialog(uint64_t after, int templateId) {
    headless::Event found;
    bool shown = headless::WaitForEvent(
        after, kWaitMs,
        [&](const headless::Event& event) {
            return event.kind == headless::EventKind::DialogShown && event.templateId == templateId;
        },
        &found);
    if (!shown) {
        std::fprintf(stderr, "dialog %d was not shown within %d ms\n", templateId, kWaitMs);
        std::abort();
    }
    return found.window;
}

void ExpectDestroyed(uint64_t after, HWND dialog) {
    bool destroyed = headless::WaitForEvent(
        after, kWaitMs,
        [&](const headless::Event& event) {
            return event.kind == headless::EventKind::DialogDestroyed && event.window == dialog;
        },
        nullptr);
    if (!destroyed) {
        std::fprintf(stderr, "dialog %d did not end within %d ms\n", headless::TemplateId(dialog), kWaitMs);
        std::abort();
    }
}

bool WaitForFocus(HWND dialog, int id) {
    for (int waited = 0; waited < kWaitMs; ++waited) {
        if (headless::FocusedItem(dialog) == id) {
            return true;
        }
        Sleep(1);
    }
    return false;
}

bool WaitForKind(uint64_t after, headless::EventKind kind, headless::Event* found) {
    return headless::WaitForEvent(
        after, kWaitMs, [&](const headless::Event& event) { return event.kind == kind; }, found);
}

}  // namespace platform_test
