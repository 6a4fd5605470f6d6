// The TFTP listener: binds the first free port from 69, waits for the
// device's read request for the expected name, and runs one session per stage.
#include "src/tftp/listener.h"

#include "resources/resource_ids.h"
#include "src/control/upgrade_state.h"
#include "src/tftp/session.h"
#include "src/ui/dialogs.h"
#include "src/ui/texts.h"

#include <cstdlib>

namespace {

constexpr int kWaitingRange = 1000;
constexpr int kIdleCycle = 1000;  // the idle counter runs 1..999, 0, never reaching the range's end

// Polls the socket until the expected read request arrives; its sender goes
// to `sender`. Other datagrams are consumed at once, without a pause.
void WaitForReadRequest(TftpListener* listener, HWND waitingDialog, sockaddr_in* sender) {
    int idleCounter = 0;
    for (;;) {
        int received = ReceiveDatagram(listener->udpSocket, listener->packet, sender);
        if (received > 0) {
            if (IsExpectedReadRequest(listener->packet, received)) {
                return;
            }
            continue;
        }
        Sleep(1);
        idleCounter = (idleCounter + 1) % kIdleCycle;
        SetProgressPosition(waitingDialog, idleCounter);
        PumpPendingMessages(waitingDialog);
    }
}

}  // namespace

uint16_t StartTftpListener(uint32_t localAddress) {
    auto* listener = static_cast<TftpListener*>(std::calloc(1, sizeof(TftpListener)));
    if (listener == nullptr) {
        FailUpgrade(text::kListenerMalloc);
    }
    listener->udpSocket = socket(AF_INET, SOCK_DGRAM, 0);
    if (listener->udpSocket == INVALID_SOCKET) {
        FailUpgrade(text::kListenerSocket);
    }
    uint16_t port = BindFirstFreePort(listener->udpSocket, localAddress);
    if (port == 0) {
        FailUpgrade(text::kListenerBind);
    }
    listener->localAddress = localAddress;
    listener->port = port;
    if (CreateThread(nullptr, 0, TftpListenerThread, listener, 0, nullptr) == nullptr) {
        FailUpgrade(text::kListenerThread);
    }
    return port;
}

uint16_t BindFirstFreePort(SOCKET udpSocket, uint32_t localAddress) {
    for (int attempt = 0; attempt < kTftpPortTries; ++attempt) {
        uint16_t port = static_cast<uint16_t>(kTftpFirstPort + attempt);
        sockaddr_in address;
        MakeSockAddr(localAddress, port, &address);
        if (bind(udpSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            return port;
        }
    }
    return 0;
}

bool IsExpectedReadRequest(const uint8_t* packet, int length) {
    if (length < 2 || GetU16BE(packet) != kTftpRrq) {
        return false;
    }
    // The name is compared within the bytes received: a request without a
    // NUL never leads the comparison past the datagram.
    return FileNameMatches(reinterpret_cast<const char*>(packet + 2), static_cast<size_t>(length - 2));
}

DWORD WINAPI TftpListenerThread(LPVOID parameter) {
    auto* listener = static_cast<TftpListener*>(parameter);
    HWND waitingDialog = ShowWaitingDialog();
    SetDlgItemTextA(waitingDialog, IDC_WAITING_TEXT, text::kWaitingHelp);
    unsigned long nonBlocking = 1;
    ioctlsocket(listener->udpSocket, FIONBIO, &nonBlocking);
    for (;;) {
        sockaddr_in sender;
        WaitForReadRequest(listener, waitingDialog, &sender);
        DestroyWindow(waitingDialog);
        uint32_t peerAddress = 0;
        uint16_t peerPort = 0;
        SplitSockAddr(sender, &peerAddress, &peerPort);
        // The name matched, so it ends with its NUL inside the packet.
        RunTftpSession(listener->udpSocket, listener->localAddress, listener->port, peerAddress, peerPort,
                       reinterpret_cast<const char*>(listener->packet + 2));
        if (upgradeState.stage.load() == Target) {
            closesocket(listener->udpSocket);
            ExitProcess(0);
        }
        // The stage moves before the next dialog shows, so the main thread can
        // send the second trigger meanwhile; its request waits in the socket.
        upgradeState.stage.store(Target);
        waitingDialog = ShowWaitingDialog();
    }
}

HWND ShowWaitingDialog() {
    HWND dialog = ShowModelessDialog(IDD_WAITING, UploadDialogProc);
    SetProgressRange(dialog, kWaitingRange);
    SetProgressPosition(dialog, 0);
    return dialog;
}
