// Every request to the device: a worker thread per attempt behind the
// connecting dialog, with the password dialog when the device asks.
#pragma once

#include "platform/win.h"

#include <cstdint>

// The device's information page, read before the upgrade and after each restart.
inline constexpr char kDevicePage[] = "/admin/advanced";

struct DeviceRequest {
    HINSTANCE instance;
    uint32_t localAddress;
    uint16_t localPortBase;
    uint32_t deviceAddress;
    uint16_t devicePort;
    const char* path;
    char* buffer;
    uint32_t capacity;
};

// The connecting dialog's progress bar, carried across the attempts of one
// call: it steps once per 10 ms that pass.
struct ProgressTicker {
    int pollCount;  // milliseconds since the last step
    int position;
    DWORD lastPoll;
};

// What one attempt's pump reaches the world through: the clock, the worker
// thread and dialog 105. RunDeviceRequest passes the real ones; tests pass a
// scripted worker on a fake clock.
struct AttemptOps {
    void* context;
    // Milliseconds on the clock the bar follows.
    DWORD (*now)(void* context);
    // Dialog 105 up and the worker started on `request`; false, the dialog
    // gone, when the worker could not start.
    bool (*start)(void* context, DeviceRequest* request);
    // Takes the dialog's pending messages.
    void (*pump)(void* context);
    void (*showBar)(void* context, int position);
    // Sleeps until the worker ends, a message comes or `milliseconds` pass;
    // true once the worker has ended.
    bool (*pauseUntilWorkerEnds)(void* context, DWORD milliseconds);
    // Dialog 105 gone and the worker released; gives its result.
    int (*finish)(void* context);
};

// The byte count of the first answer that is not an accepted challenge.
int RunDeviceRequest(HINSTANCE instance, uint32_t localAddress, uint16_t localPortBase, uint32_t deviceAddress,
                     uint16_t devicePort, const char* path, char* buffer, uint32_t capacity);
// "/admin/advanced" or a trigger path with the fixed values every caller uses.
int RequestDevicePage(uint32_t localAddress, uint32_t deviceAddress, const char* path);
// One attempt: the dialog's messages taken whenever they come and its bar
// stepped until the worker ends, the thread asleep between them until the
// bar's next move; gives the worker's result.
int RunAttempt(DeviceRequest* request, ProgressTicker* ticker, const AttemptOps& ops);
DWORD WINAPI DeviceRequestWorker(LPVOID request);
INT_PTR CALLBACK ConnectingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
