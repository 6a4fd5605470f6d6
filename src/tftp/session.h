// One TFTP transfer: the image of the current stage, in lock-step 512-byte
// blocks, on the listener's socket.
#pragma once

#include "platform/win.h"
#include "src/net/sockets.h"
#include "src/tftp/packets.h"
#include "src/ui/frame_pace.h"

#include <atomic>
#include <cstdint>

struct TftpSession {
    char fileName[128];
    uint8_t packet[kTftpPacketSize];
    uint32_t localAddress;
    uint32_t peerAddress;
    uint16_t localPort;
    uint16_t peerPort;
    SOCKET udpSocket;
    uint32_t nextBlock;
    uint32_t imageSize;
    uint32_t blockCount;
    uint32_t bytesAcked;
    uint32_t lastBlockSize;
    uint32_t sentSize;
    HWND uploadDialog;
};

// A poll lasts 1 ms at least; a silent cycle is 100 polls without an accepted ACK; the 30th in a row ends
// the transfer, after 29 retransmissions of the packet in flight.
constexpr uint64_t kPollMicroseconds = 1000;
constexpr int kPollsPerCycle = 100;
constexpr int kSilentCyclesToGiveUp = 30;

// The transfer's state beside the record: where the payload of the block in
// flight starts, and how long the client has been silent.
struct TransferProgress {
    const uint8_t* imageCursor;
    int polls;
    int silentCycles;
};

// What one datagram means to the session. Ignored ones count as a poll;
// dropped ones (an ACK for another block) are passed over at once.
enum class DatagramVerdict { Ignored, Dropped, Accepted };
// What a counted poll leads to.
enum class PollVerdict { KeepWaiting, Retransmit, GiveUp };

// What the transfer loop reaches the world through: the clock, the pause,
// the socket and the counts dialog 110 shows. The session runs the loop on a
// thread that owns no window; tests pass a scripted network on a fake clock.
struct TransferOps {
    void* context;
    // Microseconds on a clock that never goes back.
    uint64_t (*now)(void* context);
    // One datagram into `packet` (1024 bytes) with its sender: the byte
    // count, or 0 or less when none was read.
    int (*receive)(void* context, uint8_t* packet, sockaddr_in* sender);
    void (*send)(void* context, const uint8_t* packet, size_t length, const sockaddr_in& destination);
    // Sleeps until a datagram may be waiting (true) or `microseconds` pass.
    bool (*pause)(void* context, uint64_t microseconds);
    // Hands the session's counts to the dialog, which shows them at its own pace.
    void (*showProgress)(void* context, const TftpSession& session);
};

// The counts cross from the transfer's thread to the dialog's as one value:
// `nextBlock` in the high half, `bytesAcked` in the low one.
uint64_t PackCounts(const TftpSession& session);

// Dialog 110 as its thread sees the transfer.
struct UploadView {
    HWND dialog;
    const std::atomic<uint64_t>* counts;
    uint32_t imageSize;
    FramePace pace;
    uint64_t shown;  // the counts last shown
};
// Shows the counts at the display's pace, the first ones at once; the
// milliseconds until it may show more.
DWORD ShowUploadFrame(void* view, DWORD now);

int RunTftpSession(SOCKET udpSocket, uint32_t localAddress, uint16_t localPort, uint32_t peerAddress, uint16_t peerPort,
                   const char* fileName);
// Sets the sizes for an image of `imageSize` bytes.
void PrepareTransfer(TftpSession* session, uint32_t imageSize);
void ServeImage(TftpSession* session);
// The transfer on the session's socket, on a thread of its own, with dialog
// 110 shown and answering on this one: true when every block was
// acknowledged, false when the client fell silent.
bool TransferImage(TftpSession* session, const uint8_t* image);
// The transfer loop itself, through `ops`.
bool RunTransfer(TftpSession* session, const uint8_t* image, const TransferOps& ops);

bool IsFromPeer(const TftpSession& session, const sockaddr_in& sender);
DatagramVerdict ExamineDatagram(const TftpSession& session, const uint8_t* packet, int length,
                                const sockaddr_in& sender);
// Books an accepted ACK; true when it was the last block's.
bool AcceptAck(TftpSession* session, TransferProgress* progress);
// Moves to the block that `nextBlock` now names: its size and where it starts.
void AdvanceToNextBlock(TftpSession* session, TransferProgress* progress, const uint8_t* image);
PollVerdict CountPoll(TransferProgress* progress);

void SendOack(const TransferOps& ops, uint8_t* packet, const sockaddr_in& destination, uint32_t imageSize);
void SendDataBlock(const TransferOps& ops, uint8_t* packet, const uint8_t* payload, uint32_t payloadSize,
                   uint32_t block, const sockaddr_in& destination);
