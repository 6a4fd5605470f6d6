// The whole upgrade from the main thread: warning, address, device query,
// decision, confirmation, listener and the upgrade triggers.
#include "src/control/upgrade_sequence.h"

#include "resources/resource_ids.h"
#include "src/control/upgrade_state.h"
#include "src/control/version_decision.h"
#include "src/tftp/listener.h"
#include "src/ui/address_dialog.h"
#include "src/ui/dialogs.h"
#include "src/ui/texts.h"
#include "src/web/request_runner.h"

#include <cstdio>

namespace {

constexpr char kDevicePage[] = "/admin/advanced";
constexpr DWORD kStagePollMs = 10;

[[noreturn]] void WaitForListenerToEnd() {
    for (;;) {
        Sleep(kStagePollMs);
    }
}

void WaitForTargetStage() {
    while (upgradeState.stage.load() != Target) {
        Sleep(kStagePollMs);
    }
}

}  // namespace

void FormatTriggerPath(char* out, size_t size, uint32_t localAddress, uint16_t port, const char* fileName) {
    char address[16];
    FormatIpv4(address, sizeof address, localAddress);
    snprintf(out, size, "/admin/upgrade?tftp://%s:%u%s", address, port, fileName);
}

void SendUpgradeTrigger(uint16_t port) {
    char fileName[kTextFieldSize];
    CopyFileName(fileName, sizeof fileName);
    // Room for the longest address, port and file name, so nothing is ever cut.
    char path[sizeof "/admin/upgrade?tftp://255.255.255.255:65535" + kTextFieldSize];
    FormatTriggerPath(path, sizeof path, upgradeState.localAddress, port, fileName);
    RequestDevicePage(upgradeState.localAddress, upgradeState.deviceAddress, path);
}

int RunUpgrade() {
    if (RunModalDialog(IDD_WARNING, WarningDialogProc) == 0) {
        return 0;
    }
    int addressDialog = upgradeState.handsetVariant ? IDD_ADDRESS_HANDSET : IDD_ADDRESS;
    if (RunModalDialog(addressDialog, AddressDialogProc) == 0 || upgradeState.deviceAddress == 0) {
        return 0;
    }
    if (RequestDevicePage(upgradeState.localAddress, upgradeState.deviceAddress, kDevicePage) < 1) {
        ReportError(text::kNoResponse, nullptr);
        return 0;
    }
    DecideStage();
    int confirmDialog = upgradeState.stage.load() == Target ? IDD_CONFIRM_TARGET : IDD_CONFIRM_TRANSITION;
    if (RunModalDialog(confirmDialog, ConfirmDialogProc) == 0) {
        ReportError(text::kUserAbort, nullptr);
        return 0;
    }
    uint16_t port = StartTftpListener(upgradeState.localAddress);
    SendUpgradeTrigger(port);
    if (upgradeState.stage.load() == Transition) {
        WaitForTargetStage();
        char secondName[kTextFieldSize];
        MakeFileName(secondName, sizeof secondName, Target);
        SetFileName(secondName);
        SendUpgradeTrigger(port);
    }
    WaitForListenerToEnd();
}
