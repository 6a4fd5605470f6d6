// The waiting dialog's hint. The firewall of Windows holds back the
// device's unsolicited read request until the user allows the program, and
// its question may open behind the dialog; a PC address on another network
// never gets the request at all. Both look like a wait without end.
#include "src/tftp/waiting_hint.h"

#include "resources/resource_ids.h"
#include "src/shared/texts.h"
#include "src/shared/trace.h"
#include "src/shared/upgrade_state.h"
#include "src/ui/address_dialog.h"
#include "src/ui/dialogs.h"

#include <cstdio>

namespace {

// The template keeps the hint's control below the dialog's bottom, so that
// the dialog looks as it always did; it grows to show it, its bottom margin
// kept as the Cancel button had it, without coming to the front.
void RevealHint(HWND dialog) {
    RECT window, cancel, hint;
    GetWindowRect(dialog, &window);
    GetWindowRect(GetDlgItem(dialog, IDCANCEL), &cancel);
    GetWindowRect(GetDlgItem(dialog, IDC_WAITING_HINT), &hint);
    int height = hint.bottom + (window.bottom - cancel.bottom) - window.top;
    SetWindowPos(dialog, nullptr, window.left, window.top, window.right - window.left, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

bool WaitingHintDue(uint64_t triggerEnded, int32_t stage, DWORD now) {
    if (triggerEnded >> 32 != static_cast<uint64_t>(stage) + 1) {
        return false;
    }
    return now - static_cast<DWORD>(triggerEnded) >= kWaitingHintMilliseconds;
}

void FormatWaitingHint(char* out, size_t size, uint32_t localAddress) {
    char address[16];
    FormatIpv4(address, sizeof address, localAddress);
    std::snprintf(out, size, text::kWaitingHint, address);
}

void ShowWaitingHintWhenDue(WaitingHint* hint, DWORD now) {
    if (hint->shown || !WaitingHintDue(upgradeState.triggerEnded.load(), upgradeState.stage.load(), now)) {
        return;
    }
    char words[sizeof text::kWaitingHint + 16];
    FormatWaitingHint(words, sizeof words, upgradeState.localAddress);
    SetDlgItemTextA(hint->dialog, IDC_WAITING_HINT, words);
    RevealHint(hint->dialog);
    Trace("hint shown\n");
    hint->shown = true;
}
