// The PC's end of the firmware download: waits for the device's read request.
#pragma once

#include "platform/win.h"
#include "src/net/sockets.h"
#include "src/tftp/packets.h"

#include <cstdint>

constexpr uint16_t kTftpFirstPort = 69;
constexpr int kTftpPortTries = 100;

struct TftpListener {
    uint32_t localAddress;
    uint16_t port;
    SOCKET udpSocket;
    uint8_t packet[kTftpPacketSize];
};

// Binds 69 or the next free port up to 168, starts the listener thread and
// returns the bound port.
uint16_t StartTftpListener(uint32_t localAddress);
// True for a read request, opcode 1, naming the expected file.
bool IsExpectedReadRequest(const uint8_t* packet, int length);
DWORD WINAPI TftpListenerThread(LPVOID listener);
HWND ShowWaitingDialog();
