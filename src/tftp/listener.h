// The PC's end of the firmware download: waits for the device's read request.
#pragma once

#include "platform/win.h"
#include "src/net/sockets.h"
#include "src/tftp/packets.h"
#include "src/ui/frame_pace.h"

#include <cstdint>

constexpr uint16_t kTftpFirstPort = 69;
constexpr int kTftpPortTries = 100;

struct TftpListener {
    uint32_t localAddress;
    uint16_t port;
    SOCKET udpSocket;
    uint8_t packet[kTftpPacketSize];
};

// The socket side of the wait for the read request; the session passes the
// listener's socket, tests scripted datagrams.
struct RequestOps {
    void* context;
    // One datagram into `packet` (1024 bytes): the byte count, or 0 or less.
    int (*receive)(void* context, uint8_t* packet, sockaddr_in* sender);
    // Sleeps until a datagram may be waiting.
    void (*pause)(void* context);
};

// The waiting dialog's activity bar: the idle counter advances by the
// milliseconds that passed, and the bar is set only when that moves it by a
// pixel, at most once a frame.
struct IdleBar {
    PixelPacedBar shown;
    int counter;
    DWORD lastStep;
};

// Binds 69 or the next free port up to 168, starts the listener thread and
// returns the bound port.
uint16_t StartTftpListener(uint32_t localAddress);
// Reads datagrams until the expected read request, into the listener's
// packet, its sender into `sender`; every other one is discarded.
void WaitForReadRequest(TftpListener* listener, const RequestOps& ops, sockaddr_in* sender);
IdleBar StartIdleBar(HWND dialog, DWORD now);
// Advances the counter to `now` and shows it if it moved visibly; returns
// the milliseconds until the bar's next visible move.
DWORD AdvanceIdleBar(IdleBar* bar, DWORD now);
// True for a read request, opcode 1, naming the expected file.
bool IsExpectedReadRequest(const uint8_t* packet, int length);
DWORD WINAPI TftpListenerThread(LPVOID listener);
HWND ShowWaitingDialog();
