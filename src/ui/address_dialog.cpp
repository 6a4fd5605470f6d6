// The device address dialog (templates 101 and 305) and the IPv4 text parser.
#include "src/ui/address_dialog.h"

#include "resources/resource_ids.h"
#include "src/shared/random.h"
#include "src/net/sockets.h"
#include "src/shared/texts.h"
#include "src/shared/trace.h"
#include "src/shared/upgrade_state.h"
#include "src/ui/dialogs.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kAddressTextMin = 7;   // "1.2.3.4"
constexpr size_t kAddressTextMax = 15;  // "255.255.255.255"
constexpr int kAddressFields = 4;
constexpr int kAddressTextRead = 63;

bool IsAddressCharacter(char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == '*';
}

bool IsSeparator(char c) {
    return c == '.' || c == '*';
}

// atoi over one field of digits, wrapping as 32-bit arithmetic does; leaves
// the cursor on the separator or NUL after it.
int32_t FieldValue(const char** cursor) {
    uint32_t value = 0;
    for (; **cursor >= '0' && **cursor <= '9'; ++*cursor) {
        value = value * 10u + static_cast<uint32_t>(**cursor - '0');
    }
    return static_cast<int32_t>(value);
}

// Set once the user picks a PC address in the list: a proposal never
// overrides that choice. The dialog runs once per run, on the main thread.
bool localAddressPicked = false;

bool IsLoopback(uint32_t address) {
    return address >> 24 == 127;
}

bool IsLinkLocal(uint32_t address) {
    return address >> 16 == 0xA9FE;
}

int CommonLeadingBits(uint32_t a, uint32_t b) {
    int bits = 0;
    for (uint32_t differ = a ^ b; bits < 32 && (differ & 0x80000000u) == 0; differ <<= 1) {
        ++bits;
    }
    return bits;
}

// How well `address` suits a device at `device` (0: none typed yet): the
// leading bits they share; below any of those a link-local address for a
// device that is not, and lower still a loopback one.
int Closeness(uint32_t address, uint32_t device) {
    if (IsLoopback(address)) {
        return -2;
    }
    if (IsLinkLocal(address) && !IsLinkLocal(device)) {
        return -1;
    }
    return device == 0 ? 0 : CommonLeadingBits(address, device);
}

int LocalAddressCount() {
    int count = 0;
    while (count < kLocalAddressCount && upgradeState.localAddresses[count] != 0) {
        ++count;
    }
    return count;
}

void SelectProposedAddress(HWND dialog, uint32_t device, uint32_t routed) {
    int index = ProposedLocalAddress(upgradeState.localAddresses, LocalAddressCount(), device, routed);
    if (index >= 0) {
        SendDlgItemMessageA(dialog, IDC_LOCAL_ADDRESSES, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
}

void FillLocalAddressList(HWND dialog) {
    for (int i = 0; i < LocalAddressCount(); ++i) {
        char entry[16];
        FormatIpv4(entry, sizeof entry, upgradeState.localAddresses[i]);
        SendDlgItemMessageA(dialog, IDC_LOCAL_ADDRESSES, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    }
    localAddressPicked = false;
    SelectProposedAddress(dialog, 0, 0);
}

// Each change of the device's address that makes a whole one proposes the
// PC address that reaches it, until the user has picked one.
void ProposeForTypedAddress(HWND dialog) {
    char typed[kAddressTextRead + 1];
    uint32_t device = 0;
    GetDlgItemTextA(dialog, IDC_DEVICE_ADDRESS, typed, kAddressTextRead);
    if (localAddressPicked || ParseIpv4Address(typed, &device) != kIpv4Ok || device == 0) {
        return;
    }
    uint32_t routed = LocalAddressToward(device);
    Trace("Route to %x from %x\n", unsigned(device), unsigned(routed));
    SelectProposedAddress(dialog, device, routed);
}

void InitializeAddressDialog(HWND dialog) {
    FillLocalAddressList(dialog);
    SetUpgradeTitle(dialog);
    char buffer[80];
    SetDlgItemTextA(dialog, IDC_TOP_TEXT, text::kAddressHeading);
    SetDlgItemTextA(dialog, IDC_ADDRESS_HELP,
                    upgradeState.handsetVariant == 1 ? text::kHandsetAddressHelp : text::kAdapterAddressHelp);
    snprintf(buffer, sizeof buffer, text::kTargetVersion, HeaderVersion(upgradeState.targetImage));
    SetDlgItemTextA(dialog, IDC_TARGET_VERSION, buffer);
    SetFocus(GetDlgItem(dialog, IDC_DEVICE_ADDRESS));
    CenterWindow(dialog);
}

// The list entry the user picked; false when the PC offered no address.
bool SelectedLocalAddress(HWND dialog, uint32_t* address) {
    LRESULT count = SendDlgItemMessageA(dialog, IDC_LOCAL_ADDRESSES, CB_GETCOUNT, 0, 0);
    LRESULT index = SendDlgItemMessageA(dialog, IDC_LOCAL_ADDRESSES, CB_GETCURSEL, 0, 0);
    if (index < 0 || index >= count || index >= kLocalAddressCount) {
        return false;
    }
    *address = upgradeState.localAddresses[index];
    return true;
}

void RefuseAddress(HWND dialog, const char* message) {
    MessageBoxA(dialog, message, text::kInvalidAddressCaption, MB_OK);
    SetFocus(GetDlgItem(dialog, IDC_DEVICE_ADDRESS));
}

void AcceptAddress(HWND dialog) {
    GetDlgItemTextA(dialog, IDC_DEVICE_ADDRESS, upgradeState.deviceAddressText, kAddressTextRead);
    ParseIpv4Address(upgradeState.deviceAddressText, &upgradeState.deviceAddress);
    if (upgradeState.deviceAddress == 0) {
        RefuseAddress(dialog, text::kInvalidAddress);
        return;
    }
    // Without an own address neither the listener nor the trigger URL can work.
    uint32_t localAddress = 0;
    if (!SelectedLocalAddress(dialog, &localAddress)) {
        RefuseAddress(dialog, text::kNoLocalAddress);
        return;
    }
    char fileName[kTextFieldSize];
    MakeFileName(fileName, sizeof fileName, upgradeState.stage.load());
    SetFileName(fileName);
    upgradeState.localAddress = localAddress;
    EndDialog(dialog, 1);
}

}  // namespace

int ParseIpv4Address(const char* text, uint32_t* out) {
    *out = 0;
    size_t length = strlen(text);
    if (length > kAddressTextMax || length < kAddressTextMin) {
        return kIpv4BadLength;
    }
    for (size_t i = 0; i < length; ++i) {
        if (!IsAddressCharacter(text[i])) {
            return kIpv4BadCharacter;
        }
    }
    // Fields as strtok with the separators "*." finds them: runs of separators
    // count as one, and none at either end makes an empty field.
    uint32_t octets[kAddressFields] = {};
    int count = 0;
    const char* cursor = text;
    for (;;) {
        while (IsSeparator(*cursor)) {
            ++cursor;
        }
        if (*cursor == '\0') {
            break;
        }
        if (count == kAddressFields) {
            return kIpv4TooManyFields;
        }
        int32_t value = FieldValue(&cursor);
        if (value < 0 || value > 255) {
            return kIpv4FieldRange;
        }
        octets[count++] = static_cast<uint32_t>(value);
    }
    if (count < kAddressFields) {
        return kIpv4TooFewFields;
    }
    *out = octets[0] << 24 | octets[1] << 16 | octets[2] << 8 | octets[3];
    return kIpv4Ok;
}

void FormatIpv4(char* out, size_t size, uint32_t address) {
    snprintf(out, size, "%u.%u.%u.%u", (address >> 24) & 0xff, (address >> 16) & 0xff, (address >> 8) & 0xff,
             address & 0xff);
}

void MakeFileName(char* out, size_t size, int stageDigit) {
    snprintf(out, size, "/qor%x.bi%d", static_cast<unsigned>(NextRandom() & 0xffff), stageDigit);
}

int ProposedLocalAddress(const uint32_t* addresses, int count, uint32_t device, uint32_t routed) {
    int best = -1;
    int bestCloseness = 0;
    for (int i = 0; i < count; ++i) {
        if (routed != 0 && addresses[i] == routed) {
            return i;
        }
        int closeness = Closeness(addresses[i], device);
        if (best < 0 || closeness > bestCloseness) {
            best = i;
            bestCloseness = closeness;
        }
    }
    return best;
}

INT_PTR CALLBACK AddressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            InitializeAddressDialog(dialog);
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_LOCAL_ADDRESSES && HIWORD(wParam) == CBN_SELCHANGE) {
                localAddressPicked = true;
                return TRUE;
            }
            if (LOWORD(wParam) == IDC_DEVICE_ADDRESS && HIWORD(wParam) == EN_CHANGE) {
                ProposeForTypedAddress(dialog);
                return TRUE;
            }
            // OK ends the dialog only for a valid address.
            if (LOWORD(wParam) == IDOK) {
                AcceptAddress(dialog);
                return TRUE;
            }
            return EndOnOkOrCancel(dialog, wParam);
        default:
            return FALSE;
    }
}
