// The TFTP listener: binds the first free port from 69, waits for the
// device's read request for the expected name, and runs one session per stage.
#include "src/tftp/listener.h"

#include "resources/resource_ids.h"
#include "src/shared/texts.h"
#include "src/shared/trace.h"
#include "src/shared/upgrade_state.h"
#include "src/tftp/session.h"
#include "src/tftp/waiting_hint.h"
#include "src/ui/beside_work.h"
#include "src/ui/dialogs.h"
#include "src/ui/frame_pace.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kWaitingRange = 1000;
constexpr int kIdleCycle = 1000;  // the idle counter runs 1..999, 0, never reaching the range's end

void TraceDiscarded(const uint8_t* packet, int length) {
    static const char* const kOpcodeTraces[] = {nullptr,           nullptr,          "TFTP Rx WRQ?\n",
                                                "TFTP Rx Data?\n", "TFTP Rx ACK?\n", "TFTP Rx Error?\n"};
    uint16_t opcode = length >= 2 ? GetU16BE(packet) : 0;
    if (opcode == kTftpRrq) {
        Trace("+++ Bad TFTP RRQ filename %.*s\n", length - 2, reinterpret_cast<const char*>(packet + 2));
    } else if (opcode >= kTftpWrq && opcode <= kTftpError) {
        Trace("%s", kOpcodeTraces[opcode]);
    }
}

// The wait's own thread: the listener's socket, watched for datagrams.
struct RequestPort {
    TftpListener* listener;
    DatagramWatch watch;
    sockaddr_in sender;
};

int PortReceive(void* context, uint8_t* packet, sockaddr_in* sender) {
    SOCKET udpSocket = static_cast<RequestPort*>(context)->listener->udpSocket;
    return ReceiveDatagram(udpSocket, packet, static_cast<int>(kTftpPacketSize), sender);
}

void PortPause(void* context) {
    PauseUntilDatagram(&static_cast<RequestPort*>(context)->watch, INFINITE);
}

DWORD WINAPI ReadRequestThread(LPVOID parameter) {
    auto* port = static_cast<RequestPort*>(parameter);
    port->watch = WatchForDatagrams(port->listener->udpSocket);
    WaitForReadRequest(port->listener, {port, PortReceive, PortPause}, &port->sender);
    StopWatching(&port->watch);
    return 0;
}

// What dialog 114 shows beside the wait: its activity bar, and what to
// check once nothing has come long after the trigger.
struct WaitingView {
    IdleBar bar;
    WaitingHint hint;
};

DWORD ShowWaitingFrame(void* context, DWORD now) {
    auto* view = static_cast<WaitingView*>(context);
    ShowWaitingHintWhenDue(&view->hint, now);
    return AdvanceIdleBar(&view->bar, now);
}

// Dialog 114 answers and its bar moves on this thread while the wait runs
// on its own; the sender of the accepted request goes to `sender`.
void AwaitReadRequest(TftpListener* listener, HWND waitingDialog, sockaddr_in* sender) {
    RequestPort port = {listener, {}, {}};
    WaitingView view = {StartIdleBar(waitingDialog, timeGetTime()), {waitingDialog, false}};
    RunBesideDialog(waitingDialog, ReadRequestThread, &port, {ShowWaitingFrame, &view}, text::kListenerThread);
    *sender = port.sender;
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
    uint16_t port = BindFirstFree(listener->udpSocket, localAddress, kTftpFirstPort, kTftpPortTries);
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

IdleBar StartIdleBar(HWND dialog, DWORD now) {
    return {StartPixelPacedBar(dialog, kWaitingRange, kActivityFrameMilliseconds), 0, now};
}

DWORD AdvanceIdleBar(IdleBar* bar, DWORD now) {
    bar->counter = static_cast<int>((bar->counter + (now - bar->lastStep) % kIdleCycle) % kIdleCycle);
    bar->lastStep = now;
    ShowWhenMoved(&bar->shown, bar->counter, now, false);
    int next = NextPositionOffPixel(bar->shown, bar->counter, bar->shown.shownPixel, kIdleCycle);
    DWORD untilMove = static_cast<DWORD>(next - bar->counter);
    return std::max(untilMove, MillisecondsToNextFrame(bar->shown.pace, now));
}

// Datagrams are read as they come, without a pause between them, so that a
// burst is consumed at once.
void WaitForReadRequest(TftpListener* listener, const RequestOps& ops, sockaddr_in* sender) {
    for (;;) {
        int received = ops.receive(ops.context, listener->packet, sender);
        if (received <= 0) {
            ops.pause(ops.context);
            continue;
        }
        if (IsExpectedReadRequest(listener->packet, received)) {
            return;
        }
        TraceDiscarded(listener->packet, received);
    }
}

bool IsExpectedReadRequest(const uint8_t* packet, int length) {
    if (length < 2 || GetU16BE(packet) != kTftpRrq) {
        return false;
    }
    char expected[128];
    CopyFileName(expected, sizeof expected);
    Trace("%s %.*s\n", expected, length - 2, reinterpret_cast<const char*>(packet + 2));
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
        AwaitReadRequest(listener, waitingDialog, &sender);
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
