// Every request to the device: the exchange runs on a worker thread of its
// own while the calling thread keeps the connecting dialog alive; a Digest
// challenge leads to a silent retry (new nonce) or to the password dialog.
#include "src/web/request_runner.h"

#include "resources/resource_ids.h"
#include "src/shared/texts.h"
#include "src/shared/trace.h"
#include "src/shared/upgrade_state.h"
#include "src/ui/dialogs.h"
#include "src/ui/frame_pace.h"
#include "src/web/digest.h"
#include "src/web/http_exchange.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kProgressMaximum = 100;
constexpr int kPollsPerStep = 10;
constexpr int kUserFieldMaximum = 127;  // bytes with the NUL: at most 126 characters

// What one dialog 105 shows: the position its steps set last, pushed to the
// screen at most once a frame.
struct ShownBar {
    int set;
    int shown;
    FramePace pace;
};

// Steps the bar once per 10 ms since the last call; returns the
// milliseconds until its next visible move.
DWORD Tick(ProgressTicker* ticker, ShownBar* bar, const AttemptOps& ops) {
    DWORD now = ops.now(ops.context);
    ticker->pollCount += static_cast<int>(now - ticker->lastPoll);
    ticker->lastPoll = now;
    int steps = ticker->pollCount / kPollsPerStep;
    ticker->pollCount %= kPollsPerStep;
    if (steps > 0) {
        bar->set = (ticker->position + steps - 1) % (kProgressMaximum + 1);
        ticker->position = (ticker->position + steps) % (kProgressMaximum + 1);
    }
    if (bar->set != bar->shown && TakeFrame(&bar->pace, now)) {
        ops.showBar(ops.context, bar->set);
        bar->shown = bar->set;
    }
    DWORD untilStep = static_cast<DWORD>(kPollsPerStep - ticker->pollCount);
    return std::max(untilStep, MillisecondsToNextFrame(bar->pace, now));
}

// The real world of an attempt: dialog 105 and the worker thread.
struct AttemptPort {
    HWND dialog;
    HANDLE worker;
};

DWORD PortNow(void*) {
    return timeGetTime();
}

bool PortStart(void* context, DeviceRequest* request) {
    auto* port = static_cast<AttemptPort*>(context);
    port->dialog = ShowModelessDialog(request->instance, IDD_CONNECTING, ConnectingDialogProc);
    port->worker = CreateThread(nullptr, 0, DeviceRequestWorker, request, 0, nullptr);
    if (port->worker == nullptr) {
        DestroyWindow(port->dialog);
    }
    return port->worker != nullptr;
}

void PortPump(void* context) {
    PumpPendingMessages(static_cast<AttemptPort*>(context)->dialog);
}

void PortShowBar(void* context, int position) {
    SetProgressPosition(static_cast<AttemptPort*>(context)->dialog, position);
}

bool PortPause(void* context, DWORD milliseconds) {
    HANDLE* worker = &static_cast<AttemptPort*>(context)->worker;
    return MsgWaitForMultipleObjects(1, worker, FALSE, milliseconds, QS_ALLINPUT) == WAIT_OBJECT_0;
}

int PortFinish(void* context) {
    auto* port = static_cast<AttemptPort*>(context);
    DestroyWindow(port->dialog);
    DWORD result = 0;
    GetExitCodeThread(port->worker, &result);
    CloseHandle(port->worker);
    return int(result);
}

// A password with a count of 0 after a challenge: the nonce is not the one
// the credentials were last used with, so the device has changed it.
bool NonceChanged() {
    return digestState.password[0] != '\0' && digestState.nonceCount == 0;
}

bool AskForPassword(HINSTANCE instance) {
    return RunModalDialog(instance, IDD_PASSWORD, PasswordDialogProc) == 1;
}

}  // namespace

int RunDeviceRequest(HINSTANCE instance, uint32_t localAddress, uint16_t localPortBase, uint32_t deviceAddress,
                     uint16_t devicePort, const char* path, char* buffer, uint32_t capacity) {
    ProgressTicker ticker = {0, 0, 0};
    AttemptPort port = {nullptr, nullptr};
    AttemptOps ops = {&port, PortNow, PortStart, PortPump, PortShowBar, PortPause, PortFinish};
    int silentRetries = 0;
    for (;;) {
        DeviceRequest request = {instance,   localAddress, localPortBase, deviceAddress,
                                 devicePort, path,         buffer,        capacity};
        int result = RunAttempt(&request, &ticker, ops);
        if (result >= 0) {
            return result;
        }
        if (NonceChanged() && silentRetries == 0) {
            silentRetries = 1;
            continue;
        }
        if (!AskForPassword(instance)) {
            FailUpgrade(text::kUserAbort);
        }
        silentRetries = 0;
    }
}

int RunAttempt(DeviceRequest* request, ProgressTicker* ticker, const AttemptOps& ops) {
    if (!ops.start(ops.context, request)) {
        FailUpgrade(text::kRequestThread);
    }
    ShownBar bar = {-1, -1, {kActivityFrameMilliseconds, 0, false}};
    ticker->lastPoll = ops.now(ops.context);
    do {
        ops.pump(ops.context);
    } while (!ops.pauseUntilWorkerEnds(ops.context, Tick(ticker, &bar, ops)));
    return ops.finish(ops.context);
}

int RequestDevicePage(uint32_t localAddress, uint32_t deviceAddress, const char* path) {
    return RunDeviceRequest(upgradeState.instance, localAddress, kHttpLocalPortBase, deviceAddress, kDevicePort, path,
                            upgradeState.httpBuffer, kHttpCapacity);
}

DWORD WINAPI DeviceRequestWorker(LPVOID parameter) {
    const DeviceRequest* request = static_cast<const DeviceRequest*>(parameter);
    Trace("HTTP %x:%u to %x:%u\n", unsigned(request->localAddress), unsigned(request->localPortBase),
          unsigned(request->deviceAddress), unsigned(request->devicePort));
    return DWORD(ExchangeWithDevice(request->localAddress, request->localPortBase, request->deviceAddress,
                                    request->devicePort, request->path, request->buffer, request->capacity));
}

INT_PTR CALLBACK ConnectingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        char title[128];
        snprintf(title, sizeof title, text::kConnectingTitle, upgradeState.deviceAddressText);
        SetWindowTextA(dialog, title);
        CenterWindow(dialog);
        SetProgressRange(dialog, kProgressMaximum);
        return TRUE;
    }
    EndUpgradeOnCancel(dialog, message, wParam);
    return FALSE;
}

INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetDlgItemTextA(dialog, IDC_TOP_TEXT, text::kPasswordHelp);
        SetDlgItemTextA(dialog, IDC_USER, text::kDefaultUser);
        SetFocus(GetDlgItem(dialog, IDC_PASSWORD));
        CenterWindow(dialog);
        return FALSE;
    }
    if (message != WM_COMMAND) {
        return FALSE;
    }
    if (LOWORD(wParam) == IDOK) {
        GetDlgItemTextA(dialog, IDC_USER, digestState.user, kUserFieldMaximum);
        GetDlgItemTextA(dialog, IDC_PASSWORD, digestState.password, kUserFieldMaximum);
        EndDialog(dialog, 1);
        return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}
