// The program's one door to the operating system: the real Windows API on
// Windows, our Linux stand-in for the same subset everywhere else. Nothing
// outside platform/ may include a system header of either platform.
#pragma once

#ifdef _WIN32
#include "platform/windows/winapi.h"
#else
#include "platform/linux/winapi.h"
#endif
