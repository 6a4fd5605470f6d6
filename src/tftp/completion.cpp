// Completion of an upload: about 30 s while the device writes the image and
// restarts, then its page again and the version it now reports.
#include "src/tftp/completion.h"

#include "resources/resource_ids.h"
#include "src/shared/texts.h"
#include "src/shared/trace.h"
#include "src/shared/upgrade_state.h"
#include "src/ui/dialogs.h"
#include "src/ui/frame_pace.h"
#include "src/web/http_exchange.h"
#include "src/web/request_runner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD kTickWrap = 1u << 27;
constexpr DWORD kTickMs = 32;

// How many times quick the real clock and pause run: 1 but in whole runs of
// the native tests (SetCompletionRate); set before the listener starts.
struct CompletionPace {
    DWORD rate;
    DWORD start;
};
CompletionPace pace = {1, 0};

DWORD RealNow(void*) {
    return pace.start + (timeGetTime() - pace.start) * pace.rate;
}

void RealPause(void*, DWORD milliseconds) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, (milliseconds + pace.rate - 1) / pace.rate, QS_ALLINPUT);
}

void RealPump(void*, HWND dialog) {
    PumpPendingMessages(dialog);
}

int RealRequestPage(void*, const TftpSession& session) {
    return RequestDevicePage(session.localAddress, session.peerAddress, kDevicePage);
}

bool DeviceRunsImageVersion() {
    Trace("[%d]%s %s\n", upgradeState.stage.load(), HeaderVersion(StageImage()),
          upgradeState.deviceInfo.softwareVersion);
    if (upgradeState.handsetVariant) {
        return true;
    }
    return std::strcmp(HeaderVersion(StageImage()), upgradeState.deviceInfo.softwareVersion) == 0;
}

// Milliseconds from `now` until tick `target` (after `elapsed`) begins.
DWORD MillisecondsToTick(DWORD now, DWORD elapsed, DWORD target) {
    DWORD restOfTick = kTickMs - (now & (kTickMs - 1));
    return (target - elapsed - 1) * kTickMs + restOfTick;
}

// Milliseconds from `now` until the tick that moves the bar by a pixel, or
// until the wait's end; at least the rest of the current tick.
DWORD MillisecondsToNextPixel(const PixelPacedBar& bar, DWORD now, DWORD elapsed) {
    int ticks = static_cast<int>(elapsed);
    int next = NextPositionOffPixel(bar, ticks, PixelOf(bar, ticks), static_cast<int>(kUpdatingTicks));
    return MillisecondsToTick(now, elapsed, static_cast<DWORD>(next));
}

// Between two attempts: dialog 110 stays up with its full bar and its
// Cancel live, until `spacing` has passed since the last attempt began.
void WaitForNextAttempt(HWND uploadDialog, DWORD attemptStart, const CompletionOps& ops) {
    for (;;) {
        ops.pump(ops.context, uploadDialog);
        DWORD since = ops.now(ops.context) - attemptStart;
        if (since >= kRequerySpacingMs) {
            return;
        }
        ops.pause(ops.context, kRequerySpacingMs - since);
    }
}

}  // namespace

DWORD TickOf(DWORD milliseconds) {
    return milliseconds >> 5;
}

DWORD TicksSince(DWORD start, DWORD now) {
    if (now < start) {
        now += kTickWrap;
    }
    return now - start;
}

const CompletionOps& RealCompletionOps() {
    static const CompletionOps real = {nullptr, RealNow, RealPause, RealPump, RealRequestPage};
    return real;
}

void SetCompletionRate(DWORD rate) {
    pace = {rate < 1 ? 1 : rate, timeGetTime()};
}

void FinishUpload(TftpSession* session, bool incomplete) {
    FinishUpload(session, incomplete, RealCompletionOps());
}

void FinishUpload(TftpSession* session, bool incomplete, const CompletionOps& ops) {
    HWND uploadDialog = session->uploadDialog;
    session->uploadDialog = nullptr;
    WaitForDeviceRestart(uploadDialog, ops);
    if (incomplete) {
        DestroyWindow(uploadDialog);
        ReportError(text::kUploadIncomplete, nullptr);
        return;
    }
    VerifyUpgrade(*session, uploadDialog, ops);
}

void WaitForDeviceRestart(HWND uploadDialog, const CompletionOps& ops) {
    DWORD start = TickOf(ops.now(ops.context));
    SetProgressRange(uploadDialog, static_cast<int>(kUpdatingTicks));
    SetProgressPosition(uploadDialog, 0);
    char title[160];
    std::snprintf(title, sizeof title, text::kUpdatingTitle, StageWord(), upgradeState.deviceAddressText);
    SetWindowTextA(uploadDialog, title);
    PixelPacedBar bar = StartPixelPacedBar(uploadDialog, static_cast<int>(kUpdatingTicks), kUpdatingFrameMilliseconds);
    for (;;) {
        DWORD now = ops.now(ops.context);
        DWORD elapsed = TicksSince(start, TickOf(now));
        bool atEnd = elapsed >= kUpdatingTicks;
        // The bar is set when it moves by a pixel, at most once a frame, and at its end.
        ShowWhenMoved(&bar, static_cast<int>(std::min(elapsed, kUpdatingTicks)), now, atEnd);
        ops.pump(ops.context, uploadDialog);
        if (atEnd) {
            return;
        }
        // Asleep until the bar's next move or a message, never past the end,
        // which is still read from the clock each time.
        DWORD untilMove = std::max(MillisecondsToNextPixel(bar, now, elapsed), MillisecondsToNextFrame(bar.pace, now));
        ops.pause(ops.context, std::min(untilMove, MillisecondsToTick(now, elapsed, kUpdatingTicks)));
    }
}

// The version read before the upgrade is dropped before each attempt, so
// that what is compared and shown afterwards comes from this re-query alone.
bool RequeryDevice(const TftpSession& session, HWND uploadDialog, const CompletionOps& ops) {
    DWORD attemptStart = 0;
    for (int attempt = 0; attempt < kRequeryAttempts; ++attempt) {
        if (attempt > 0) {
            WaitForNextAttempt(uploadDialog, attemptStart, ops);
        }
        attemptStart = ops.now(ops.context);
        Trace("re-query %d at %u ms\n", attempt + 1, unsigned(attemptStart));
        upgradeState.deviceInfo.softwareVersion[0] = '\0';
        if (ops.requestPage(ops.context, session) > 0 && IsDevicePage(upgradeState.httpBuffer)) {
            return true;
        }
    }
    return false;
}

void VerifyUpgrade(const TftpSession& session, HWND uploadDialog, const CompletionOps& ops) {
    bool answered = RequeryDevice(session, uploadDialog, ops);
    DestroyWindow(uploadDialog);
    if (!answered) {
        ReportError(text::kNoResponse, nullptr);
        return;
    }
    if (!DeviceRunsImageVersion()) {
        ReportError(text::kVersionMismatch, nullptr);
        return;
    }
    if (upgradeState.stage.load() == Target) {
        RunModalDialog(IDD_SUCCESS, SuccessDialogProc);
    }
}

INT_PTR CALLBACK SuccessDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        char title[96];
        std::snprintf(title, sizeof title, text::kSuccessTitle, upgradeState.deviceAddressText);
        SetWindowTextA(dialog, title);
        SetDlgItemTextA(dialog, IDC_TOP_TEXT, text::kSuccess);
        SetDlgItemTextA(dialog, IDC_SOFTWARE_VERSION, upgradeState.deviceInfo.softwareVersion);
        CenterWindow(dialog);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam) == IDOK ? 1 : 0);
        return TRUE;
    }
    return FALSE;
}
