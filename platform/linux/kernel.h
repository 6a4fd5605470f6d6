// What the layer's waits need from its threads.
#pragma once

#include "platform/win.h"

namespace layer {

// A descriptor of its own that turns readable when `thread` has ended; -1
// for a handle that is no thread. The caller closes it.
int DuplicateThreadEndSignal(HANDLE thread);

}  // namespace layer
