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

INT_PTR CALLBACK AddressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
