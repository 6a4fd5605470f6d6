// Waits on what the headless dialog manager reports, for tests. Each returns
// false on time-out and leaves the failing to the test: some tests abort,
// since a modal loop that never ends would hang them, others record a failure.
#pragma once

#include "platform/linux/headless.h"

#include <cstdint>
#include <functional>
#include <string>

// The sequence number of the newest event so far (0 when none).
uint64_t LastEventSequence();
// The next DialogShown of `templateId` after `after`.
bool WaitForDialog(uint64_t after, int templateId, int timeoutMs, HWND* window, uint64_t* sequence = nullptr);
// The next message box shown after `after`.
bool WaitForMessageBox(uint64_t after, int timeoutMs, headless::Event* box);
bool WaitForMessageBox(uint64_t after, int timeoutMs, std::string* text, HWND* box, uint64_t* sequence = nullptr);
// The destruction of `dialog` after `after`.
bool WaitForDestroyed(uint64_t after, HWND dialog, int timeoutMs);
// Checks `holds` every millisecond until it is true or `timeoutMs` passes:
// a dialog shows before its owner has filled it in.
bool WaitUntil(int timeoutMs, const std::function<bool()>& holds);
