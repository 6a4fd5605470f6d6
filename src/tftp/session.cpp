// The transfer session: option acknowledgement, then the image in lock-step
// 512-byte DATA blocks, each retransmitted after a silent cycle.
#include "src/tftp/session.h"

#include "resources/resource_ids.h"
#include "src/shared/texts.h"
#include "src/shared/trace.h"
#include "src/shared/upgrade_state.h"
#include "src/tftp/completion.h"
#include "src/ui/dialogs.h"
#include "src/ui/frame_pace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void ShowUploadProgress(HWND dialog, const TftpSession& session) {
    SetProgressPosition(dialog, static_cast<int>(session.nextBlock));
    char title[256];
    std::snprintf(title, sizeof title, text::kUploadingTitle, StageWord(), upgradeState.deviceAddressText,
                  static_cast<int>(session.bytesAcked), static_cast<int>(session.imageSize));
    SetWindowTextA(dialog, title);
}

// The real world of a transfer: the listener's socket and dialog 110.
struct SessionPort {
    SOCKET udpSocket;
    DatagramWatch watch;
    HWND dialog;
    FramePace pace;
    uint32_t shownBlock;  // `nextBlock` as the dialog shows it
};

uint64_t PortNow(void*) {
    return MicrosecondsNow();
}

int PortReceive(void* context, uint8_t* packet, sockaddr_in* sender) {
    auto* port = static_cast<SessionPort*>(context);
    return ReceiveDatagram(port->udpSocket, packet, static_cast<int>(kTftpPacketSize), sender);
}

void PortSend(void* context, const uint8_t* packet, size_t length, const sockaddr_in& destination) {
    sendto(static_cast<SessionPort*>(context)->udpSocket, reinterpret_cast<const char*>(packet),
           static_cast<int>(length), 0, reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
}

void PortPause(void* context, uint64_t microseconds) {
    if (microseconds == 0) {
        SwitchToThread();
        return;
    }
    DWORD milliseconds = static_cast<DWORD>((microseconds + 999) / 1000);
    PauseUntilDatagramOrMessage(&static_cast<SessionPort*>(context)->watch, milliseconds);
}

void PortPumpOne(void* context) {
    PumpOneMessage(static_cast<SessionPort*>(context)->dialog);
}

// The first and the last count show at once, the others at the display's pace.
void PortShowProgress(void* context, const TftpSession& session) {
    auto* port = static_cast<SessionPort*>(context);
    if (session.nextBlock == port->shownBlock) {
        return;
    }
    DWORD now = timeGetTime();
    bool firstOrLast = port->shownBlock == 0 || session.nextBlock > session.blockCount;
    if (firstOrLast) {
        ForceFrame(&port->pace, now);
    } else if (!TakeFrame(&port->pace, now)) {
        return;
    }
    ShowUploadProgress(port->dialog, session);
    port->shownBlock = session.nextBlock;
}

void Retransmit(TftpSession* session, const TransferProgress& progress, const sockaddr_in& destination,
                const TransferOps& ops) {
    if (session->nextBlock == 0) {
        Trace("ReSend option ack\n");
        SendOack(ops, session->packet, destination, session->imageSize);
    } else {
        Trace("ReSend block %d\n", static_cast<int>(session->nextBlock));
        SendDataBlock(ops, session->packet, progress.imageCursor, session->sentSize, session->nextBlock, destination);
    }
}

void TraceStranger(const sockaddr_in& sender) {
    uint32_t address = 0;
    uint16_t port = 0;
    SplitSockAddr(sender, &address, &port);
    Trace("Unknown source request in session: %x:%u\n", static_cast<unsigned>(address), static_cast<unsigned>(port));
}

// Sleeps out the rest of the poll that began at `pollStart`, or less when a
// datagram or a message comes first.
void PauseRestOfPoll(const TransferOps& ops, uint64_t pollStart) {
    uint64_t now = ops.now(ops.context);
    if (now - pollStart < kPollMicroseconds) {
        ops.pause(ops.context, pollStart + kPollMicroseconds - now);
    }
}

// Right after a block goes out its ACK is looked for without a pause for a
// moment: a client on the LAN answers sooner than a wait could wake. Between
// looks the processor is offered to a client that may share it.
constexpr uint64_t kSpinMicroseconds = 300;

// Counts one poll for every whole millisecond since `pollStart`, so that a
// cycle is 100 ms of silence however the pauses fell. A cycle's end stops
// the count there: the next cycle starts in full after the retransmission.
PollVerdict CountElapsedPolls(TransferProgress* progress, uint64_t* pollStart, uint64_t now) {
    while (now - *pollStart >= kPollMicroseconds) {
        *pollStart += kPollMicroseconds;
        PollVerdict poll = CountPoll(progress);
        if (poll != PollVerdict::KeepWaiting) {
            *pollStart = now;
            return poll;
        }
    }
    return PollVerdict::KeepWaiting;
}

}  // namespace

int RunTftpSession(SOCKET udpSocket, uint32_t localAddress, uint16_t localPort, uint32_t peerAddress, uint16_t peerPort,
                   const char* fileName) {
    auto* session = static_cast<TftpSession*>(std::calloc(1, sizeof(TftpSession)));
    if (session == nullptr) {
        FailUpgrade(text::kSessionMalloc);
    }
    session->udpSocket = udpSocket;
    session->localAddress = localAddress;
    session->localPort = localPort;
    session->peerAddress = peerAddress;
    session->peerPort = peerPort;
    std::snprintf(session->fileName, sizeof session->fileName, "%s", fileName);
    PrepareTransfer(session, StageImage().size);
    ServeImage(session);
    std::free(session);
    return 0;
}

void PrepareTransfer(TftpSession* session, uint32_t imageSize) {
    session->imageSize = imageSize;
    session->blockCount = (imageSize >> 9) + 1;
    session->lastBlockSize = imageSize & 0x1ff;
    Trace("++++size %d, %d, %d\n", static_cast<int>(imageSize), static_cast<int>(session->lastBlockSize),
          static_cast<int>(session->blockCount));
}

void ServeImage(TftpSession* session) {
    bool complete = TransferImage(session, StageImage().bytes);
    FinishUpload(session, !complete);
}

bool TransferImage(TftpSession* session, const uint8_t* image) {
    session->uploadDialog = ShowModelessDialog(IDD_UPLOAD, UploadDialogProc);
    SetProgressRange(session->uploadDialog, static_cast<int>(session->blockCount));
    unsigned long nonBlocking = 1;
    ioctlsocket(session->udpSocket, FIONBIO, &nonBlocking);
    SessionPort port = {session->udpSocket,
                        WatchForDatagrams(session->udpSocket),
                        session->uploadDialog,
                        {kFrameMilliseconds, 0, false},
                        0};
    TransferOps ops = {&port, PortNow, PortReceive, PortSend, PortPause, PortPumpOne, PortShowProgress};
    bool complete = RunTransfer(session, image, ops);
    FlushTrace();
    StopWatching(&port.watch);
    return complete;
}

// Polls are counted on the clock: every millisecond without an accepted ACK
// is one, however many datagrams cut its pause short, so that no stream of
// datagrams, stale ACKs or empty ones can hold off the retransmission or the
// give-up. Datagrams are read as they come, without a pause.
bool RunTransfer(TftpSession* session, const uint8_t* image, const TransferOps& ops) {
    sockaddr_in destination;
    MakeSockAddr(session->peerAddress, session->peerPort, &destination);
    SendOack(ops, session->packet, destination, session->imageSize);

    TransferProgress progress = {image, 0, 0};
    uint64_t pollStart = ops.now(ops.context);
    uint64_t spinUntil = 0;
    for (;;) {
        sockaddr_in sender;
        int received = ops.receive(ops.context, session->packet, &sender);
        if (received > 0) {
            DatagramVerdict verdict = ExamineDatagram(*session, session->packet, received, sender);
            if (verdict == DatagramVerdict::Accepted) {
                bool last = AcceptAck(session, &progress);
                ops.showProgress(ops.context, *session);
                if (last) {
                    Trace("All blocks ack'd\n");
                    return true;
                }
                AdvanceToNextBlock(session, &progress, image);
                SendDataBlock(ops, session->packet, progress.imageCursor, session->sentSize, session->nextBlock,
                              destination);
                pollStart = ops.now(ops.context);
                spinUntil = pollStart + kSpinMicroseconds;
                continue;
            }
            if (verdict == DatagramVerdict::Ignored && !IsFromPeer(*session, sender)) {
                TraceStranger(sender);
            }
        } else if (ops.now(ops.context) >= spinUntil) {
            ops.pumpOne(ops.context);
            PauseRestOfPoll(ops, pollStart);
        } else {
            ops.pause(ops.context, 0);  // the client may need this processor for its ACK
        }
        uint64_t now = ops.now(ops.context);
        if (now - pollStart < kPollMicroseconds) {
            continue;
        }
        if (received > 0) {
            ops.pumpOne(ops.context);  // a stream of datagrams must not keep the dialog's Cancel waiting
        }
        ops.showProgress(ops.context, *session);
        PollVerdict poll = CountElapsedPolls(&progress, &pollStart, now);
        if (poll == PollVerdict::GiveUp) {
            Trace("Timeout for ack; upgrade failed\n");
            return false;
        }
        if (poll == PollVerdict::Retransmit) {
            Retransmit(session, progress, destination, ops);
        }
    }
}

bool IsFromPeer(const TftpSession& session, const sockaddr_in& sender) {
    uint32_t address = 0;
    uint16_t port = 0;
    SplitSockAddr(sender, &address, &port);
    return address == session.peerAddress && port == session.peerPort;
}

DatagramVerdict ExamineDatagram(const TftpSession& session, const uint8_t* packet, int length,
                                const sockaddr_in& sender) {
    if (!IsFromPeer(session, sender)) {
        return DatagramVerdict::Ignored;
    }
    // Opcode and block number both lie in the first four bytes; a shorter
    // datagram is no ACK.
    if (length < 4 || GetU16BE(packet) != kTftpAck) {
        return DatagramVerdict::Ignored;
    }
    if (GetU16BE(packet + 2) != session.nextBlock) {
        return DatagramVerdict::Dropped;
    }
    return DatagramVerdict::Accepted;
}

bool AcceptAck(TftpSession* session, TransferProgress* progress) {
    session->nextBlock += 1;
    session->bytesAcked += session->sentSize;
    progress->polls = 0;
    progress->silentCycles = 0;
    return session->nextBlock > session->blockCount;
}

void AdvanceToNextBlock(TftpSession* session, TransferProgress* progress, const uint8_t* image) {
    session->sentSize = session->nextBlock == session->blockCount ? session->lastBlockSize : kTftpBlockSize;
    progress->imageCursor = session->nextBlock == 1 ? image : progress->imageCursor + kTftpBlockSize;
}

PollVerdict CountPoll(TransferProgress* progress) {
    progress->polls += 1;
    if (progress->polls < kPollsPerCycle) {
        return PollVerdict::KeepWaiting;
    }
    progress->polls = 0;
    progress->silentCycles += 1;
    return progress->silentCycles >= kSilentCyclesToGiveUp ? PollVerdict::GiveUp : PollVerdict::Retransmit;
}

void SendOack(const TransferOps& ops, uint8_t* packet, const sockaddr_in& destination, uint32_t imageSize) {
    size_t length = BuildOack(packet, imageSize);
    ops.send(ops.context, packet, length, destination);
}

void SendDataBlock(const TransferOps& ops, uint8_t* packet, const uint8_t* payload, uint32_t payloadSize,
                   uint32_t block, const sockaddr_in& destination) {
    size_t length = BuildDataBlock(packet, payload, payloadSize, block);
    ops.send(ops.context, packet, length, destination);
    // Traced once the block is on its way, while the client takes its turn.
    TraceBatched("Send block %d (%d)\n", static_cast<int>(block), static_cast<int>(payloadSize));
}
