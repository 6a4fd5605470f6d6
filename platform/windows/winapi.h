// Windows: the real headers, in the order Winsock needs them.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>

// The oldest Windows the program promises is Windows 7, and the toolchain
// file tells the headers so: left to their default (Windows 10), QS_ALLINPUT
// carries the touch and pointer bits of Windows 8, and Windows 7 fails every
// wait that asks for them.
static_assert(_WIN32_WINNT == 0x0601 && QS_ALLINPUT == 0x04FF, "the headers must be those of Windows 7");

// Length argument of recvfrom and friends.
using SockLen = int;
