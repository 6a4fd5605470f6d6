// Every request to the device: the exchange runs on a worker thread of its
// own while the calling thread keeps the connecting dialog alive; a Digest
// challenge leads to a silent retry (new nonce) or to the password dialog.
#include "src/web/request_runner.h"

#include "resources/resource_ids.h"
#include "src/control/upgrade_state.h"
#include "src/ui/dialogs.h"
#include "src/ui/texts.h"
#include "src/web/digest.h"
#include "src/web/http_exchange.h"

#include <cstdio>

namespace {

constexpr int kProgressMaximum = 100;
constexpr int kPollsPerStep = 10;
constexpr int kUserFieldMaximum = 127;  // bytes with the NUL: at most 126 characters

// The connecting dialog's progress bar, carried across the attempts of one call.
struct ProgressTicker {
    int pollCount;
    int position;
};

void Tick(HWND dialog, ProgressTicker* ticker) {
    if (++ticker->pollCount < kPollsPerStep) {
        return;
    }
    SetProgressPosition(dialog, ticker->position);
    if (++ticker->position > kProgressMaximum) {
        ticker->position = 0;
    }
    ticker->pollCount = 0;
}

bool HasEnded(HANDLE thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

// One attempt: dialog 105 up, the worker started, its messages pumped with
// 1 ms polls until the worker ends; gives the worker's result.
int RunAttempt(DeviceRequest* request, ProgressTicker* ticker) {
    HWND dialog = ShowModelessDialog(request->instance, IDD_CONNECTING, ConnectingDialogProc);
    HANDLE worker = CreateThread(nullptr, 0, DeviceRequestWorker, request, 0, nullptr);
    if (worker == nullptr) {
        DestroyWindow(dialog);
        FailUpgrade(text::kRequestThread);
    }
    while (!HasEnded(worker)) {
        PumpOneMessage(dialog);
        Sleep(1);
        Tick(dialog, ticker);
    }
    DestroyWindow(dialog);
    DWORD result = 0;
    GetExitCodeThread(worker, &result);
    CloseHandle(worker);
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
    ProgressTicker ticker = {0, 0};
    int silentRetries = 0;
    for (;;) {
        DeviceRequest request = {instance,   localAddress, localPortBase, deviceAddress,
                                 devicePort, path,         buffer,        capacity};
        int result = RunAttempt(&request, &ticker);
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

int RequestDevicePage(uint32_t localAddress, uint32_t deviceAddress, const char* path) {
    return RunDeviceRequest(upgradeState.instance, localAddress, kHttpLocalPortBase, deviceAddress, kDevicePort, path,
                            upgradeState.httpBuffer, kHttpCapacity);
}

DWORD WINAPI DeviceRequestWorker(LPVOID parameter) {
    const DeviceRequest* request = static_cast<const DeviceRequest*>(parameter);
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
