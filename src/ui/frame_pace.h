// What a dialog pushes to the screen follows the display, not the work
// behind it: a bar or a title changes at most once a frame, while the counts
// behind it stay exact.
#pragma once

#include "platform/win.h"
#include "src/ui/dialogs.h"

#include <algorithm>
#include <cstdint>

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

// A bar set only when a position moves it by a pixel, at most once a frame:
// the waiting dialog's activity bar and the updating bar.
struct PixelPacedBar {
    HWND dialog;
    int range;  // the bar's positions
    int width;  // its pixels
    int shownPixel;
    FramePace pace;
};

inline PixelPacedBar StartPixelPacedBar(HWND dialog, int range, DWORD frameMilliseconds) {
    return {dialog, range, ProgressWidth(dialog, range), 0, {frameMilliseconds, 0, false}};
}

// In 64 bits: a wait woken late may pass a position far beyond the range.
inline int PixelOf(const PixelPacedBar& bar, int position) {
    return static_cast<int>(static_cast<int64_t>(position) * bar.width / bar.range);
}

// Sets the bar to `position` when that moves it by a pixel and a frame may
// go out at `now`, or at once and drawn full when `atEnd` is set.
inline void ShowWhenMoved(PixelPacedBar* bar, int position, DWORD now, bool atEnd) {
    int pixel = PixelOf(*bar, position);
    if (atEnd) {
        ShowBarEnd(bar->dialog, bar->range, position);
    } else if (pixel != bar->shownPixel && TakeFrame(&bar->pace, now)) {
        SetProgressPosition(bar->dialog, position);
    } else {
        return;
    }
    bar->shownPixel = pixel;
}

// The first position after `position`, before `end`, whose pixel is not
// `pixel`; `end` when there is none.
inline int NextPositionOffPixel(const PixelPacedBar& bar, int position, int pixel, int end) {
    int next = position + 1;
    while (next < end && PixelOf(bar, next) == pixel) {
        ++next;
    }
    return next;
}
