// The dialog's side of work on a thread of its own.
#include "src/ui/beside_work.h"

#include "src/shared/upgrade_state.h"
#include "src/ui/dialogs.h"

namespace {

struct RealSide {
    HWND dialog;
    HANDLE worker;
    FrameSource frames;
};

DWORD SideNow(void*) {
    return timeGetTime();
}

DWORD SideShowFrame(void* context, DWORD now) {
    const FrameSource& frames = static_cast<RealSide*>(context)->frames;
    return frames.showFrame(frames.context, now);
}

void SidePumpPending(void* context) {
    PumpPendingMessages(static_cast<RealSide*>(context)->dialog);
}

bool SideWaitForWork(void* context, DWORD milliseconds) {
    HANDLE worker = static_cast<RealSide*>(context)->worker;
    return MsgWaitForMultipleObjects(1, &worker, FALSE, milliseconds, QS_ALLINPUT) == WAIT_OBJECT_0;
}

}  // namespace

void AnswerUntilWorkEnds(const DialogSideOps& ops) {
    for (;;) {
        DWORD untilChange = ops.showFrame(ops.context, ops.now(ops.context));
        ops.pumpPending(ops.context);
        if (ops.waitForWork(ops.context, untilChange)) {
            return;
        }
    }
}

DWORD RunBesideDialog(HWND dialog, LPTHREAD_START_ROUTINE work, void* parameter, const FrameSource& frames,
                      const char* failText) {
    HANDLE worker = CreateThread(nullptr, 0, work, parameter, 0, nullptr);
    if (worker == nullptr) {
        FailUpgrade(failText);
    }
    RealSide side = {dialog, worker, frames};
    AnswerUntilWorkEnds({&side, SideNow, SideShowFrame, SidePumpPending, SideWaitForWork});
    DWORD result = 0;
    GetExitCodeThread(worker, &result);
    CloseHandle(worker);
    return result;
}
