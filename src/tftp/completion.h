// After a transfer: the device's restart wait, the re-query and the version check.
#pragma once

#include "platform/win.h"
#include "src/tftp/session.h"

constexpr DWORD kUpdatingTicks = 937;  // of 32 ms: 29,984 ms
constexpr int kRequeryAttempts = 10;

// Ticks of 32 ms on the 32-bit millisecond clock, wrapping at 2^27.
DWORD CurrentTick();
// Ticks since `start`, across one wrap of the tick value.
DWORD TicksSince(DWORD start, DWORD now);

void FinishUpload(TftpSession* session, bool incomplete);
INT_PTR CALLBACK SuccessDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
