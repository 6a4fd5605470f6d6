// The transfer session: option acknowledgement, then the image in lock-step
// 512-byte DATA blocks, each retransmitted after a silent cycle.
#include "src/tftp/session.h"

#include "resources/resource_ids.h"
#include "src/shared/texts.h"
#include "src/shared/trace.h"
#include "src/shared/upgrade_state.h"
#include "src/tftp/completion.h"
#include "src/ui/beside_work.h"
#include "src/ui/dialogs.h"
#include "src/ui/frame_pace.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void ShowUploadProgress(HWND dialog, uint32_t nextBlock, uint32_t bytesAcked, uint32_t imageSize) {
    SetProgressPosition(dialog, static_cast<int>(nextBlock));
    char title[256];
    std::snprintf(title, sizeof title, text::kUploadingTitle, StageWord(), upgradeState.deviceAddressText,
                  static_cast<int>(bytesAcked), static_cast<int>(imageSize));
    SetWindowTextA(dialog, title);
}

// The transfer's thread: the listener's socket, watched for datagrams.
struct SessionPort {
    TftpSession* session;
    const uint8_t* image;
    DatagramWatch watch;
    std::atomic<uint64_t> counts;
    bool complete;
};

uint64_t PortNow(void*) {
    return MicrosecondsNow();
}

int PortReceive(void* context, uint8_t* packet, sockaddr_in* sender) {
    auto* port = static_cast<SessionPort*>(context);
    return ReceiveDatagram(port->session->udpSocket, packet, static_cast<int>(kTftpPacketSize), sender);
}

// Once the run is failing (Cancel's message is up) the device gets no more.
void PortSend(void* context, const uint8_t* packet, size_t length, const sockaddr_in& destination) {
    if (UpgradeFailing()) {
        return;
    }
    sendto(static_cast<SessionPort*>(context)->session->udpSocket, reinterpret_cast<const char*>(packet),
           static_cast<int>(length), 0, reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
}

bool PortPause(void* context, uint64_t microseconds) {
    DWORD milliseconds = static_cast<DWORD>((microseconds + 999) / 1000);
    return PauseUntilDatagram(&static_cast<SessionPort*>(context)->watch, milliseconds);
}

void PortShowProgress(void* context, const TftpSession& session) {
    static_cast<SessionPort*>(context)->counts.store(PackCounts(session));
}

DWORD WINAPI TransferThread(LPVOID parameter) {
    auto* port = static_cast<SessionPort*>(parameter);
    port->watch = WatchForDatagrams(port->session->udpSocket);
    TransferOps ops = {port, PortNow, PortReceive, PortSend, PortPause, PortShowProgress};
    port->complete = RunTransfer(port->session, port->image, ops);
    StopWatching(&port->watch);
    return 0;
}

void ShowCounts(UploadView* view, uint64_t counts) {
    ShowUploadProgress(view->dialog, static_cast<uint32_t>(counts >> 32), static_cast<uint32_t>(counts),
                       view->imageSize);
    view->shown = counts;
}

// The last counts at once; a complete upload's full bar stays a frame, so
// that it is seen before the dialog turns to the updating wait.
void ShowLastCounts(UploadView* view, const TftpSession& session, bool complete) {
    uint64_t counts = view->counts->load();
    if (counts != view->shown) {
        ShowCounts(view, counts);
    }
    if (complete) {
        ShowBarEnd(view->dialog, static_cast<int>(session.blockCount), static_cast<int>(session.nextBlock));
        KeepAnsweringFor(view->dialog, kFrameMilliseconds);
    }
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

// Microseconds from `now` to the end of the silent cycle under way.
uint64_t UntilCycleEnd(const TransferProgress& progress, uint64_t pollStart, uint64_t now) {
    uint64_t end = pollStart + static_cast<uint64_t>(kPollsPerCycle - progress.polls) * kPollMicroseconds;
    return end > now ? end - now : 0;
}

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

uint64_t PackCounts(const TftpSession& session) {
    return static_cast<uint64_t>(session.nextBlock) << 32 | session.bytesAcked;
}

DWORD ShowUploadFrame(void* context, DWORD now) {
    auto* view = static_cast<UploadView*>(context);
    uint64_t counts = view->counts->load();
    if (counts == view->shown) {
        return kFrameMilliseconds;
    }
    if (view->shown == 0) {
        ForceFrame(&view->pace, now);
    } else if (!TakeFrame(&view->pace, now)) {
        return MillisecondsToNextFrame(view->pace, now);
    }
    ShowCounts(view, counts);
    return kFrameMilliseconds;
}

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
    SessionPort port = {session, image, {}, {0}, false};
    UploadView view = {session->uploadDialog, &port.counts, session->imageSize, {kFrameMilliseconds, 0, false}, 0};
    RunBesideDialog(session->uploadDialog, TransferThread, &port, {ShowUploadFrame, &view}, text::kListenerThread);
    ShowLastCounts(&view, *session, port.complete);
    FlushTrace();
    return port.complete;
}

// Polls are counted on the clock: every millisecond without an accepted ACK
// is one, however many datagrams cut its pause short, so that no stream of
// datagrams, stale ACKs or empty ones can hold off the retransmission or the
// give-up. The loop sleeps until a datagram comes or the cycle ends, and
// answers an accepted ACK with the next block at once.
bool RunTransfer(TftpSession* session, const uint8_t* image, const TransferOps& ops) {
    sockaddr_in destination;
    MakeSockAddr(session->peerAddress, session->peerPort, &destination);
    SendOack(ops, session->packet, destination, session->imageSize);

    TransferProgress progress = {image, 0, 0};
    uint64_t pollStart = ops.now(ops.context);
    bool justSent = true;
    for (;;) {
        sockaddr_in sender;
        // Right after a send the answer is looked for at once: a client on
        // the LAN has often answered before a pause could begin.
        bool datagramMayWait =
            justSent || ops.pause(ops.context, UntilCycleEnd(progress, pollStart, ops.now(ops.context)));
        justSent = false;
        int received = datagramMayWait ? ops.receive(ops.context, session->packet, &sender) : 0;
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
                justSent = true;
                continue;
            }
            if (verdict == DatagramVerdict::Ignored && !IsFromPeer(*session, sender)) {
                TraceStranger(sender);
            }
        }
        PollVerdict poll = CountElapsedPolls(&progress, &pollStart, ops.now(ops.context));
        if (poll == PollVerdict::GiveUp) {
            Trace("Timeout for ack; upgrade failed\n");
            return false;
        }
        if (poll == PollVerdict::Retransmit) {
            Retransmit(session, progress, destination, ops);
            justSent = true;
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
