// The transfer session: option acknowledgement, then the image in lock-step
// 512-byte DATA blocks, each retransmitted after a silent cycle.
#include "src/tftp/session.h"

#include "resources/resource_ids.h"
#include "src/control/upgrade_state.h"
#include "src/tftp/completion.h"
#include "src/ui/dialogs.h"
#include "src/ui/texts.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void ShowUploadProgress(const TftpSession& session) {
    SetProgressPosition(session.uploadDialog, static_cast<int>(session.nextBlock));
    char title[256];
    std::snprintf(title, sizeof title, text::kUploadingTitle, StageWord(), upgradeState.deviceAddressText,
                  static_cast<int>(session.bytesAcked), static_cast<int>(session.imageSize));
    SetWindowTextA(session.uploadDialog, title);
}

void Retransmit(TftpSession* session, const TransferProgress& progress, const sockaddr_in& destination) {
    if (session->nextBlock == 0) {
        SendOack(session->udpSocket, session->packet, destination, session->imageSize);
    } else {
        SendDataBlock(session->udpSocket, session->packet, progress.imageCursor, session->sentSize, session->nextBlock,
                      destination);
    }
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
    sockaddr_in destination;
    MakeSockAddr(session->peerAddress, session->peerPort, &destination);
    SendOack(session->udpSocket, session->packet, destination, session->imageSize);

    TransferProgress progress = {image, 0, 0};
    bool lastPauseCutShort = false;
    for (;;) {
        sockaddr_in sender;
        int received = ReceiveDatagram(session->udpSocket, session->packet, &sender);
        if (received > 0) {
            lastPauseCutShort = false;
            DatagramVerdict verdict = ExamineDatagram(*session, session->packet, received, sender);
            if (verdict == DatagramVerdict::Dropped) {
                continue;
            }
            if (verdict == DatagramVerdict::Accepted) {
                bool last = AcceptAck(session, &progress);
                ShowUploadProgress(*session);
                if (last) {
                    return true;
                }
                AdvanceToNextBlock(session, &progress, image);
                SendDataBlock(session->udpSocket, session->packet, progress.imageCursor, session->sentSize,
                              session->nextBlock, destination);
                continue;
            }
            // Ignored: the full pause, so that a stream of strangers' datagrams
            // still counts towards the silent cycle.
            Sleep(1);
        } else {
            // A pause cut short by a datagram is no poll. If the receive after
            // it found nothing all the same, the next pause is a full one, so
            // that such a socket cannot keep the loop from counting.
            bool cutShort = false;
            if (lastPauseCutShort) {
                Sleep(1);
            } else {
                cutShort = PauseUntilDatagram(session->udpSocket);
            }
            PumpOneMessage(session->uploadDialog);
            lastPauseCutShort = cutShort;
            if (cutShort) {
                continue;
            }
        }
        PollVerdict poll = CountPoll(&progress);
        if (poll == PollVerdict::GiveUp) {
            return false;
        }
        if (poll == PollVerdict::Retransmit) {
            Retransmit(session, progress, destination);
        }
    }
}

DatagramVerdict ExamineDatagram(const TftpSession& session, const uint8_t* packet, int length,
                                const sockaddr_in& sender) {
    uint32_t address = 0;
    uint16_t port = 0;
    SplitSockAddr(sender, &address, &port);
    if (address != session.peerAddress || port != session.peerPort) {
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

void SendOack(SOCKET udpSocket, uint8_t* packet, const sockaddr_in& destination, uint32_t imageSize) {
    size_t length = BuildOack(packet, imageSize);
    sendto(udpSocket, reinterpret_cast<const char*>(packet), static_cast<int>(length), 0,
           reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
}

void SendDataBlock(SOCKET udpSocket, uint8_t* packet, const uint8_t* payload, uint32_t payloadSize, uint32_t block,
                   const sockaddr_in& destination) {
    size_t length = BuildDataBlock(packet, payload, payloadSize, block);
    sendto(udpSocket, reinterpret_cast<const char*>(packet), static_cast<int>(length), 0,
           reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
}
