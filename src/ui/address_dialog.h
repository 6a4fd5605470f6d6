// Device address entry and the IPv4 text parser.
#pragma once

#include "platform/win.h"

#include <cstddef>
#include <cstdint>

enum Ipv4ParseCode {
    kIpv4Ok = 0,
    kIpv4FieldRange = 1,
    kIpv4TooManyFields = 2,
    kIpv4TooFewFields = 3,
    kIpv4BadLength = 4,
    kIpv4BadCharacter = 5,
};

int ParseIpv4Address(const char* text, uint32_t* out);
// "%u.%u.%u.%u", most significant byte first.
void FormatIpv4(char* out, size_t size, uint32_t address);
// "/qor%x.bi%d" with a fresh random number and the given stage digit.
void MakeFileName(char* out, size_t size, int stageDigit);

// Which of the `count` PC addresses to propose for a device at `device` (0
// when none is typed yet), given the address the system routes through to
// it (`routed`, 0 when unknown): `routed` when it is one of them; otherwise
// the one sharing the most leading bits with the device, as an address on
// its subnet does; loopback and link-local (169.254.x.x) ones only when the
// device is link-local too or nothing else is there. -1 when count is 0.
int ProposedLocalAddress(const uint32_t* addresses, int count, uint32_t device, uint32_t routed);

INT_PTR CALLBACK AddressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
