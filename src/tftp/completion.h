// After a transfer: the device's restart wait, the re-query and the version check.
#pragma once

#include "platform/win.h"
#include "src/tftp/session.h"

constexpr DWORD kUpdatingTicks = 937;  // of 32 ms: 29,984 ms
constexpr int kRequeryAttempts = 10;
// No attempt starts sooner than this after the one before began, so that ten
// of them cover about 30 s of a device that still boots, whether its connect
// fails at once (Linux, Wine) or after a second (Windows).
constexpr DWORD kRequerySpacingMs = 3000;

// Ticks of 32 ms on the 32-bit millisecond clock, wrapping at 2^27.
DWORD TickOf(DWORD milliseconds);
// Ticks since `start`, across one wrap of the tick value.
DWORD TicksSince(DWORD start, DWORD now);

// What the updating wait and the re-query reach the world through: the
// clock, the pause, dialog 110's messages and one attempt of the runner.
// FinishUpload passes the real ones; tests pass a fake clock.
struct CompletionOps {
    void* context;
    // Milliseconds on the 32-bit clock, wrapping.
    DWORD (*now)(void* context);
    // Asleep until a window message may be waiting or `milliseconds` pass.
    void (*pause)(void* context, DWORD milliseconds);
    // Takes every pending message of `dialog` off the queue.
    void (*pump)(void* context, HWND dialog);
    // One request for the device's page through the runner: its byte count.
    int (*requestPage)(void* context, const TftpSession& session);
};

// The clock and pause of the real ones run `rate` times quick from the
// call on (the program never calls it), for whole runs in the native tests
// that need not wait 30 s; before the listener starts.
void SetCompletionRate(DWORD rate);
// The ones FinishUpload(session, incomplete) passes.
const CompletionOps& RealCompletionOps();
void FinishUpload(TftpSession* session, bool incomplete);
void FinishUpload(TftpSession* session, bool incomplete, const CompletionOps& ops);
// The updating wait on the upload dialog, paced by the clock; leaves the
// dialog up with its bar full.
void WaitForDeviceRestart(HWND uploadDialog, const CompletionOps& ops);
// Up to ten attempts, spaced, with dialog 110 up between them; true when one
// brought the device's page.
bool RequeryDevice(const TftpSession& session, HWND uploadDialog, const CompletionOps& ops);
// Re-query and version check after a complete upload; dialog 110 goes when
// the re-query ends; the success dialog after the Target stage.
void VerifyUpgrade(const TftpSession& session, HWND uploadDialog, const CompletionOps& ops);
INT_PTR CALLBACK SuccessDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
