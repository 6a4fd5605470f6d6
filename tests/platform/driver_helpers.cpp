// Helpers of the platform tests.
#include "driver_helpers.h"

#include <cstdio>
#include <cstdlib>

namespace platform_test {

HWND WaitForDialog(uint64_t after, int templateId) {
    HWND dialog = nullptr;
    if (!::WaitForDialog(after, templateId, kWaitMs, &dialog)) {
        std::fprintf(stderr, "dialog %d was not shown within %d ms\n", templateId, kWaitMs);
        std::abort();
    }
    return dialog;
}

void ExpectDestroyed(uint64_t after, HWND dialog) {
    if (!WaitForDestroyed(after, dialog, kWaitMs)) {
        std::fprintf(stderr, "dialog %d did not end within %d ms\n", headless::TemplateId(dialog), kWaitMs);
        std::abort();
    }
}

bool WaitForFocus(HWND dialog, int id) {
    return WaitUntil(kWaitMs, [&] { return headless::FocusedItem(dialog) == id; });
}

bool WaitForKind(uint64_t after, headless::EventKind kind, headless::Event* found) {
    return headless::WaitForEvent(
        after, kWaitMs, [&](const headless::Event& event) { return event.kind == kind; }, found);
}

}  // namespace platform_test
