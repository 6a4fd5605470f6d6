// What a dialog pushes to the screen follows the display, not the work
// behind it: a bar or a title changes at most once a frame, while the counts
// behind it stay exact.
#pragma once

#include "platform/win.h"

#include <algorithm>

// The upload's bar and title: about 30 frames a second.
constexpr DWORD kFrameMilliseconds = 33;
// Bars that only show that something is going on (waiting, connecting,
// updating): ten frames a second look the same and keep an idle wizard quiet.
constexpr DWORD kActivityFrameMilliseconds = 100;
// The 30-second updating bar: four frames a second.
constexpr DWORD kUpdatingFrameMilliseconds = 250;

struct FramePace {
    DWORD interval;
    DWORD lastFrame;
    bool started;
};

// True when a frame may go out at `now` (the first always may); books it.
inline bool TakeFrame(FramePace* pace, DWORD now) {
    if (pace->started && now - pace->lastFrame < pace->interval) {
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

// Milliseconds from `now` until the next frame may go out.
inline DWORD MillisecondsToNextFrame(const FramePace& pace, DWORD now) {
    return pace.interval - std::min<DWORD>(now - pace.lastFrame, pace.interval);
}
