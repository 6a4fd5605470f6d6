// Helpers of the platform tests: waiting for what the driver reports, and a
// user who acts from a thread of their own while the test's thread runs a
// dialog loop.
#pragma once

#include "platform/linux/headless.h"
#include "tests/support/headless_waits.h"

#include <functional>
#include <thread>

namespace platform_test {

constexpr int kWaitMs = 5000;

// The next DialogShown of `templateId` after `after`. A dialog that never
// comes would leave a modal loop waiting for ever, so a time-out ends the
// test binary at once.
HWND WaitForDialog(uint64_t after, int templateId);
// Waits until the dialog's focus is on control `id`, as its thread handles
// the keys it was sent. False on time-out.
bool WaitForFocus(HWND dialog, int id);
// Waits for the dialog's destruction after the user acted; a modal loop that
// never ends would hang the test, so a time-out ends the binary at once.
void ExpectDestroyed(uint64_t after, HWND dialog);
bool WaitForKind(uint64_t after, headless::EventKind kind, headless::Event* found);

// Runs `act` on its own thread; joins at the end of the scope.
class User {
public:
    explicit User(std::function<void()> act) : thread_(std::move(act)) {}
    ~User() { thread_.join(); }

private:
    std::thread thread_;
};

}  // namespace platform_test
