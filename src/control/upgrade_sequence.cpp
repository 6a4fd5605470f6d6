// The whole upgrade from the main thread: warning, address, device query,
// decision, confirmation, listener and the upgrade triggers.
#include "src/control/upgrade_sequence.h"

#include "resources/resource_ids.h"
#include "src/control/version_decision.h"
#include "src/shared/texts.h"
#include "src/shared/upgrade_state.h"
#include "src/tftp/listener.h"
#include "src/ui/address_dialog.h"
#include "src/ui/dialogs.h"
#include "src/web/http_exchange.h"
#include "src/web/request_runner.h"

#include <cstdio>

namespace {

constexpr DWORD kStagePollMs = 10;

// Asleep for good: the listener thread ends the process.
[[noreturn]] void WaitForListenerToEnd() {
    for (;;) {
        Sleep(INFINITE);
    }
}

// DialogBoxParamA gives -1 when the dialog could not be created: only a
// positive result is the user's consent.
bool Accepted(INT_PTR result) {
    return result > 0;
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
    // From now on the listener may tell the user what to check if nothing comes.
    NoteTriggerEnded(timeGetTime());
}

int RunUpgrade() {
    if (!Accepted(RunModalDialog(IDD_WARNING, WarningDialogProc))) {
        return 0;
    }
    int addressDialog = upgradeState.handsetVariant ? IDD_ADDRESS_HANDSET : IDD_ADDRESS;
    if (!Accepted(RunModalDialog(addressDialog, AddressDialogProc)) || upgradeState.deviceAddress == 0) {
        return 0;
    }
    // An answer that is not the device's page (a redirect to a login, junk)
    // would otherwise fill the confirm dialog with empty values.
    if (RequestDevicePage(upgradeState.localAddress, upgradeState.deviceAddress, kDevicePage) < 1 ||
        !IsDevicePage(upgradeState.httpBuffer)) {
        ReportError(text::kNoResponse, nullptr);
        return 0;
    }
    DecideStage();
    int confirmDialog = upgradeState.stage.load() == Target ? IDD_CONFIRM_TARGET : IDD_CONFIRM_TRANSITION;
    if (!Accepted(RunModalDialog(confirmDialog, ConfirmDialogProc))) {
        ReportError(text::kUserAbort, nullptr);
        return 0;
    }
    // Taken now: the listener may finish the Transition stage while the
    // first trigger's answer is still on its way.
    bool twoStages = upgradeState.stage.load() == Transition;
    uint16_t port = StartTftpListener(upgradeState.localAddress);
    SendUpgradeTrigger(port);
    if (twoStages) {
        WaitForTargetStage();
        char secondName[kTextFieldSize];
        MakeFileName(secondName, sizeof secondName, Target);
        SetFileName(secondName);
        SendUpgradeTrigger(port);
    }
    WaitForListenerToEnd();
}
