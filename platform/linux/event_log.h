// What the test driver is told: dialogs shown and destroyed, message boxes,
// the process exit. Guarded by the manager's lock (window_registry.h).
#pragma once

#include "platform/linux/headless.h"

#include <vector>

namespace layer {

// Needs the lock held; numbers the event and wakes every waiter.
void RecordEvent(headless::Event event);
const std::vector<headless::Event>& RecordedEvents();

}  // namespace layer
