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
// The updating wait on the upload dialog, paced by the clock; destroys the dialog.
void WaitForDeviceRestart(HWND uploadDialog);
// Re-query and version check after a complete upload; the success dialog
// after the Target stage.
void VerifyUpgrade(const TftpSession& session);
INT_PTR CALLBACK SuccessDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
