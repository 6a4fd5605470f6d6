// Arbitrary datagrams to the listener's request check and to the session's
// decisions, with the image and every datagram in buffers of their exact
// size so that the sanitizers see any read past them.
#include "src/control/upgrade_state.h"
#include "src/tftp/listener.h"
#include "src/tftp/session.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kPeer = 0xC0000214;  // 192.0.2.20
constexpr uint16_t kPeerPort = 2070;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Input: 2 bytes of image size (0..4095), then datagrams, each as one byte
// of sender choice, two bytes of length (up to 1024) and the bytes.
struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at;
    bool Take(size_t count, const uint8_t** out) {
        if (size - at < count) {
            return false;
        }
        *out = data + at;
        at += count;
        return true;
    }
};

sockaddr_in SenderFor(uint8_t choice) {
    sockaddr_in sender;
    uint32_t address = (choice & 1) != 0 ? kPeer + 1 : kPeer;
    uint16_t port = (choice & 2) != 0 ? static_cast<uint16_t>(kPeerPort + 1) : kPeerPort;
    MakeSockAddr(address, port, &sender);
    return sender;
}

void CheckInvariants(const TftpSession& session, const TransferProgress& progress, const uint8_t* image) {
    Check(session.nextBlock <= session.blockCount + 1);
    Check(session.bytesAcked <= session.imageSize);
    Check(session.sentSize <= kTftpBlockSize);
    Check(progress.polls >= 0 && progress.polls < kPollsPerCycle);
    Check(progress.silentCycles < kSilentCyclesToGiveUp);
    if (session.nextBlock > 0 && session.nextBlock <= session.blockCount) {
        Check(progress.imageCursor + session.sentSize <= image + session.imageSize);
    }
}

void RunSession(Reader* input, uint32_t imageSize) {
    uint8_t* image = static_cast<uint8_t*>(std::malloc(imageSize == 0 ? 1 : imageSize));
    std::memset(image, 0x5a, imageSize);
    TftpSession session;
    std::memset(&session, 0, sizeof session);
    session.peerAddress = kPeer;
    session.peerPort = kPeerPort;
    PrepareTransfer(&session, imageSize);
    TransferProgress progress = {image, 0, 0};
    uint8_t packet[kTftpPacketSize];
    const uint8_t* choice = nullptr;
    const uint8_t* length = nullptr;
    const uint8_t* bytes = nullptr;
    while (input->Take(1, &choice) && input->Take(2, &length)) {
        size_t datagramSize = GetU16BE(length) % (kTftpPacketSize + 1);
        if (!input->Take(datagramSize, &bytes)) {
            break;
        }
        std::vector<uint8_t> datagram(bytes, bytes + datagramSize);
        IsExpectedReadRequest(datagram.data(), static_cast<int>(datagram.size()));
        DatagramVerdict verdict =
            datagramSize == 0
                ? DatagramVerdict::Ignored
                : ExamineDatagram(session, datagram.data(), static_cast<int>(datagram.size()), SenderFor(*choice));
        if (verdict == DatagramVerdict::Accepted) {
            Check(datagramSize >= 4 && GetU16BE(datagram.data()) == kTftpAck);
            if (AcceptAck(&session, &progress)) {
                Check(session.bytesAcked == session.imageSize);
                break;
            }
            AdvanceToNextBlock(&session, &progress, image);
            BuildDataBlock(packet, progress.imageCursor, session.sentSize, session.nextBlock);
        } else if (verdict == DatagramVerdict::Ignored) {
            if (CountPoll(&progress) == PollVerdict::GiveUp) {
                break;
            }
        }
        CheckInvariants(session, progress, image);
    }
    std::free(image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SetFileName("/qor1a2b.bi0");
    std::vector<uint8_t> whole(data, data + (size < kTftpPacketSize ? size : kTftpPacketSize));
    IsExpectedReadRequest(whole.data(), static_cast<int>(whole.size()));

    Reader input = {data, size, 0};
    const uint8_t* sizeBytes = nullptr;
    if (input.Take(2, &sizeBytes)) {
        RunSession(&input, GetU16BE(sizeBytes) & 0x0fff);
    }
    return 0;
}
