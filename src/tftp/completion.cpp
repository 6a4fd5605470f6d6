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

// A device still booting may answer with a page of another kind: only an
// answer with the version label is the device's own page.
bool AnswerIsDevicePage() {
    return std::strstr(upgradeState.httpBuffer, kSoftwareVersionLabel) != nullptr;
}

// Up to ten attempts; false when none brought the device's page. The version
// read before the upgrade is dropped first, so that what is compared and
// shown afterwards comes from this re-query alone.
bool RequeryDevice(const TftpSession& session) {
    for (int attempt = 0; attempt < kRequeryAttempts; ++attempt) {
        upgradeState.deviceInfo.softwareVersion[0] = '\0';
        if (RequestDevicePage(session.localAddress, session.peerAddress, kDevicePage) > 0 && AnswerIsDevicePage()) {
            return true;
        }
    }
    return false;
}

bool DeviceRunsImageVersion() {
    Trace("[%d]%s %s\n", upgradeState.stage.load(), HeaderVersion(StageImage()),
          upgradeState.deviceInfo.softwareVersion);
    if (upgradeState.handsetVariant) {
        return true;
    }
    return std::strcmp(HeaderVersion(StageImage()), upgradeState.deviceInfo.softwareVersion) == 0;
}

// Milliseconds from now until tick `target` (after `elapsed`) begins.
DWORD MillisecondsToTick(DWORD elapsed, DWORD target) {
    DWORD restOfTick = kTickMs - (timeGetTime() & (kTickMs - 1));
    return (target - elapsed - 1) * kTickMs + restOfTick;
}

// Milliseconds from now until the tick that moves the bar by a pixel, or
// until the wait's end; at least the rest of the current tick.
DWORD MillisecondsToNextPixel(const PixelPacedBar& bar, DWORD elapsed) {
    int ticks = static_cast<int>(elapsed);
    int next = NextPositionOffPixel(bar, ticks, PixelOf(bar, ticks), static_cast<int>(kUpdatingTicks));
    return MillisecondsToTick(elapsed, static_cast<DWORD>(next));
}

}  // namespace

DWORD CurrentTick() {
    return timeGetTime() >> 5;
}

DWORD TicksSince(DWORD start, DWORD now) {
    if (now < start) {
        now += kTickWrap;
    }
    return now - start;
}

void FinishUpload(TftpSession* session, bool incomplete) {
    WaitForDeviceRestart(session->uploadDialog);
    session->uploadDialog = nullptr;
    if (incomplete) {
        ReportError(text::kUploadIncomplete, nullptr);
        return;
    }
    VerifyUpgrade(*session);
}

void WaitForDeviceRestart(HWND uploadDialog) {
    DWORD start = CurrentTick();
    SetProgressRange(uploadDialog, static_cast<int>(kUpdatingTicks));
    SetProgressPosition(uploadDialog, 0);
    char title[160];
    std::snprintf(title, sizeof title, text::kUpdatingTitle, StageWord(), upgradeState.deviceAddressText);
    SetWindowTextA(uploadDialog, title);
    PixelPacedBar bar = StartPixelPacedBar(uploadDialog, static_cast<int>(kUpdatingTicks), kUpdatingFrameMilliseconds);
    for (;;) {
        DWORD elapsed = TicksSince(start, CurrentTick());
        DWORD now = timeGetTime();
        bool atEnd = elapsed >= kUpdatingTicks;
        // The bar is set when it moves by a pixel, at most once a frame, and at its end.
        ShowWhenMoved(&bar, static_cast<int>(elapsed), now, atEnd);
        PumpPendingMessages(uploadDialog);
        if (atEnd) {
            break;
        }
        // Asleep until the bar's next move or a message, never past the end,
        // which is still read from the clock each time.
        DWORD untilMove = std::max(MillisecondsToNextPixel(bar, elapsed), MillisecondsToNextFrame(bar.pace, now));
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min(untilMove, MillisecondsToTick(elapsed, kUpdatingTicks)),
                                  QS_ALLINPUT);
    }
    KeepAnsweringFor(uploadDialog, kFrameMilliseconds);  // the full bar is seen
    DestroyWindow(uploadDialog);
}

void VerifyUpgrade(const TftpSession& session) {
    if (!RequeryDevice(session)) {
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
