// The TFTP listener: binds the first free port from 69, waits for the
// device's read request for the expected name, and runs one session per stage.
#include "src/tftp/listener.h"

#include "resources/resource_ids.h"
#include "src/shared/texts.h"
#include "src/shared/trace.h"
#include "src/shared/upgrade_state.h"
#include "src/tftp/session.h"
#include "src/ui/dialogs.h"
#include "src/ui/frame_pace.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kWaitingRange = 1000;
constexpr int kIdleCycle = 1000;  // the idle counter runs 1..999, 0, never reaching the range's end
// While datagrams keep coming the loop never pauses; the dialog's messages
// are taken at least this often all the same, so that Cancel stays live.
constexpr DWORD kFloodPumpMilliseconds = 5;

// The waiting dialog's activity bar: the idle counter advances by the
// milliseconds that passed, and the bar is set only when that moves it by a
// pixel, at most once a frame.
struct IdleBar {
    PixelPacedBar shown;
    int counter;
    DWORD lastStep;
};

IdleBar StartIdleBar(HWND dialog) {
    return {StartPixelPacedBar(dialog, kWaitingRange, kActivityFrameMilliseconds), 0, timeGetTime()};
}

// Advances the counter to now and shows it if it moved visibly; returns the
// milliseconds until the bar's next visible move.
DWORD AdvanceIdleBar(IdleBar* bar) {
    DWORD now = timeGetTime();
    bar->counter = static_cast<int>((bar->counter + (now - bar->lastStep) % kIdleCycle) % kIdleCycle);
    bar->lastStep = now;
    ShowWhenMoved(&bar->shown, bar->counter, now, false);
    int next = NextPositionOffPixel(bar->shown, bar->counter, bar->shown.shownPixel, kIdleCycle);
    DWORD untilMove = static_cast<DWORD>(next - bar->counter);
    return std::max(untilMove, MillisecondsToNextFrame(bar->shown.pace, now));
}

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

// Polls the socket until the expected read request arrives; its sender goes
// to `sender`. Other datagrams are consumed at once, without a pause; between
// datagrams the thread sleeps until one comes, a message comes, or the bar
// moves.
void WaitForReadRequest(TftpListener* listener, HWND waitingDialog, sockaddr_in* sender) {
    DatagramWatch watch = WatchForDatagrams(listener->udpSocket);
    IdleBar bar = StartIdleBar(waitingDialog);
    DWORD lastPump = timeGetTime();
    bool datagramMayWait = true;
    for (;;) {
        // A wake by the clock or by a message alone needs no receive.
        int received = datagramMayWait ? ReceiveDatagram(listener->udpSocket, listener->packet,
                                                         static_cast<int>(sizeof listener->packet), sender)
                                       : 0;
        if (received > 0) {
            if (IsExpectedReadRequest(listener->packet, received)) {
                break;
            }
            TraceDiscarded(listener->packet, received);
            if (timeGetTime() - lastPump >= kFloodPumpMilliseconds) {
                PumpPendingMessages(waitingDialog);
                lastPump = timeGetTime();
            }
            continue;
        }
        DWORD untilMove = AdvanceIdleBar(&bar);
        PumpPendingMessages(waitingDialog);
        lastPump = timeGetTime();
        datagramMayWait = PauseUntilDatagramOrMessage(&watch, untilMove);
    }
    StopWatching(&watch);
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
