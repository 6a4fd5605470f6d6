// Work that must keep time on a socket runs on a thread that owns no window:
// a caption drag, an open system menu or a held close box runs a loop of the
// system inside the dispatch of one message, and would hold it there. The
// thread of the dialog keeps the dialog answering meanwhile.
#pragma once

#include "platform/win.h"

// The dialog's side while the work runs, so that tests run it on a fake clock.
struct DialogSideOps {
    void* context;
    // Milliseconds on the 32-bit clock: the one place this side reads time.
    DWORD (*now)(void* context);
    // Brings what the dialog shows up to `now`; the milliseconds until it may
    // change next.
    DWORD (*showFrame)(void* context, DWORD now);
    // Takes every pending message of the dialog and its controls.
    void (*pumpPending)(void* context);
    // Sleeps until the work has ended (true), a message comes or
    // `milliseconds` pass.
    bool (*waitForWork)(void* context, DWORD milliseconds);
};

// Frames and messages, however fast or slow the work goes, until it ends.
void AnswerUntilWorkEnds(const DialogSideOps& ops);

// What a dialog shows of work in progress: called with `context` and the time.
struct FrameSource {
    DWORD (*showFrame)(void* context, DWORD now);
    void* context;
};

// Runs `work(parameter)` on a thread of its own while `dialog` answers and
// `frames` draws, and gives the thread's exit code. A thread that cannot
// start ends the run with `failText`.
DWORD RunBesideDialog(HWND dialog, LPTHREAD_START_ROUTINE work, void* parameter, const FrameSource& frames,
                      const char* failText);
