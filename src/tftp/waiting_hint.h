// What to check when the device's read request does not come: a word in
// the waiting dialog some time after the device was told to fetch.
#pragma once

#include "platform/win.h"

#include <cstddef>
#include <cstdint>

// This long after the trigger without a read request, the hint shows.
constexpr DWORD kWaitingHintMilliseconds = 20000;

struct WaitingHint {
    HWND dialog;
    bool shown;
};

// True when `triggerEnded` (as UpgradeState holds it) is the trigger of
// `stage` and it ended `kWaitingHintMilliseconds` or more before `now`.
bool WaitingHintDue(uint64_t triggerEnded, int32_t stage, DWORD now);
// The hint naming the PC address the device was told to fetch from.
void FormatWaitingHint(char* out, size_t size, uint32_t localAddress);
// Shows the hint in `hint`'s dialog once it is due, and only once.
void ShowWaitingHintWhenDue(WaitingHint* hint, DWORD now);
