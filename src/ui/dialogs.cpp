// Conventions every dialog follows, and the warning, confirm, waiting and
// upload dialogs.
#include "src/ui/dialogs.h"

#include "resources/resource_ids.h"
#include "src/shared/texts.h"
#include "src/shared/upgrade_state.h"

#include <cstdio>

void CenterWindow(HWND window) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) {
        return;
    }
    int x = CenteredOrigin(GetSystemMetrics(SM_CXSCREEN), rect.left, rect.right);
    int y = CenteredOrigin(GetSystemMetrics(SM_CYSCREEN), rect.top, rect.bottom);
    SetWindowPos(window, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
}

int CenteredOrigin(int screenSize, int nearEdge, int farEdge) {
    // g++ shifts signed values arithmetically: a window wider than the screen rounds toward minus infinity.
    return static_cast<int32_t>(screenSize + nearEdge - farEdge) >> 1;
}

void SetProgressRange(HWND dialog, int maximum) {
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, maximum));
}

void SetProgressPosition(HWND dialog, int position) {
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void ShowBarEnd(HWND dialog, int maximum, int position) {
    SetProgressPosition(dialog, position);
    SetProgressPosition(dialog, maximum - 1);
    SetProgressPosition(dialog, position);
}

int ProgressWidth(HWND dialog, int range) {
    RECT bar = {0, 0, 0, 0};
    GetWindowRect(GetDlgItem(dialog, IDC_PROGRESS), &bar);
    int width = bar.right - bar.left;
    return width > 0 ? width : range;
}

namespace {

bool IsEscapeKey(const MSG& msg) {
    return msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE;
}

// Modeless dialogs have no dialog keyboard of their own: the key would go to
// the focused control and be lost, so Esc is turned into Cancel here, as a
// modal dialog's loop does.
void SendCancel(HWND dialog) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
}

}  // namespace

bool PumpOneMessage(HWND dialog) {
    MSG msg;
    if (!PeekMessageA(&msg, dialog, 0, 0, PM_REMOVE)) {
        return false;
    }
    if (IsEscapeKey(msg)) {
        SendCancel(dialog);
        return true;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}

void PumpPendingMessages(HWND dialog) {
    while (PumpOneMessage(dialog)) {
    }
}

void KeepAnsweringFor(HWND dialog, DWORD milliseconds) {
    DWORD start = timeGetTime();
    for (DWORD passed = 0; passed < milliseconds; passed = timeGetTime() - start) {
        PumpPendingMessages(dialog);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - passed, QS_ALLINPUT);
    }
    PumpPendingMessages(dialog);
}

INT_PTR RunModalDialog(HINSTANCE instance, int templateId, DLGPROC procedure) {
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), nullptr, procedure, 0);
}

INT_PTR RunModalDialog(int templateId, DLGPROC procedure) {
    return RunModalDialog(upgradeState.instance, templateId, procedure);
}

HWND ShowModelessDialog(HINSTANCE instance, int templateId, DLGPROC procedure) {
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(templateId), nullptr, procedure, 0);
    ShowWindow(dialog, SW_SHOWNORMAL);
    return dialog;
}

HWND ShowModelessDialog(int templateId, DLGPROC procedure) {
    return ShowModelessDialog(upgradeState.instance, templateId, procedure);
}

void SetUpgradeTitle(HWND dialog) {
    char title[80];
    snprintf(title, sizeof title, text::kUpgradeTitle, upgradeState.displayName);
    SetWindowTextA(dialog, title);
}

void EndUpgradeOnCancel(HWND dialog, UINT message, WPARAM wParam) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        DestroyWindow(dialog);
        FailUpgrade(text::kUserAbort);
    }
}

INT_PTR EndOnOkOrCancel(HWND dialog, WPARAM wParam) {
    switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        default:
            return FALSE;
    }
}

namespace {

void FillDeviceInfo(HWND dialog) {
    const DeviceInfo& info = upgradeState.deviceInfo;
    SetDlgItemTextA(dialog, IDC_SERIAL_NUMBER, info.serialNumber);
    SetDlgItemTextA(dialog, IDC_MAC_ADDRESS, info.macAddress);
    SetDlgItemTextA(dialog, IDC_SOFTWARE_VERSION, info.softwareVersion);
    SetDlgItemTextA(dialog, IDC_HARDWARE_VERSION, info.hardwareVersion);
    SetDlgItemTextA(dialog, IDC_PRODUCT_NAME, info.productName);
}

}  // namespace

void FormatConfirmText(char* out, size_t size) {
    if (upgradeState.stage.load() == Target) {
        snprintf(out, size, "%s", text::kConfirm);
    } else {
        snprintf(out, size, text::kTransitionNote, text::kConfirm, HeaderVersion(upgradeState.transitionImage));
    }
}

INT_PTR CALLBACK WarningDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            SetUpgradeTitle(dialog);
            SetDlgItemTextA(dialog, IDC_WARNING_TEXT, text::kWarning);
            SetFocus(GetDlgItem(dialog, IDCANCEL));
            CenterWindow(dialog);
            return FALSE;
        case WM_COMMAND:
            return EndOnOkOrCancel(dialog, wParam);
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK ConfirmDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: {
            char buffer[400];
            snprintf(buffer, sizeof buffer, text::kConfirmTitle, HeaderVersion(upgradeState.targetImage));
            SetWindowTextA(dialog, buffer);
            FormatConfirmText(buffer, sizeof buffer);
            SetDlgItemTextA(dialog, IDC_TOP_TEXT, buffer);
            FillDeviceInfo(dialog);
            CenterWindow(dialog);
            return TRUE;
        }
        case WM_COMMAND:
            return EndOnOkOrCancel(dialog, wParam);
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK UploadDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        CenterWindow(dialog);
        return TRUE;
    }
    EndUpgradeOnCancel(dialog, message, wParam);
    return FALSE;
}
