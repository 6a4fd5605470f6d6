// Windows: the real headers, in the order Winsock needs them.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <mmsystem.h>

// Length argument of recvfrom and friends.
using SockLen = int;
