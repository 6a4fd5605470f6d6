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

// The byte count of the first answer that is not an accepted challenge.
int RunDeviceRequest(HINSTANCE instance, uint32_t localAddress, uint16_t localPortBase, uint32_t deviceAddress,
                     uint16_t devicePort, const char* path, char* buffer, uint32_t capacity);
// "/admin/advanced" or a trigger path with the fixed values every caller uses.
int RequestDevicePage(uint32_t localAddress, uint32_t deviceAddress, const char* path);
DWORD WINAPI DeviceRequestWorker(LPVOID request);
INT_PTR CALLBACK ConnectingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
