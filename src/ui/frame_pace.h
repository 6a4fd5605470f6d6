// What a dialog pushes to the screen follows the display, not the work
// behind it: a bar or a title changes at most once a frame, about 30 times
// a second, while the counts behind it stay exact.
#pragma once

#include "platform/win.h"

constexpr DWORD kFrameMilliseconds = 33;

struct FramePace {
    DWORD lastFrame;
    bool started;
};

// True when a frame may go out at `now` (the first always may); books it.
inline bool TakeFrame(FramePace* pace, DWORD now) {
    if (pace->started && now - pace->lastFrame < kFrameMilliseconds) {
        return false;
    }
    pace->lastFrame = now;
    pace->started = true;
    return true;
}

// Books a frame that goes out whatever the pace (a first or last state).
inline void ForceFrame(FramePace* pace, DWORD now) {
    pace->lastFrame = now;
    pace->started = true;
}
