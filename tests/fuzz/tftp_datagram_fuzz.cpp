// Arbitrary datagrams at arbitrary moments to the listener's request check
// and to the whole transfer loop on a fake clock, with the image and every
// datagram in buffers of their exact size so that the sanitizers see any read
// past them.
#include "src/shared/upgrade_state.h"
#include "src/tftp/listener.h"
#include "src/tftp/session.h"

#include <algorithm>
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
// of sender choice, two bytes of delay in microseconds after the previous
// one, two bytes of length (up to 1024) and the bytes.
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

// The transfer loop's world: the input's datagrams on a fake clock that
// moves in pauses and a microsecond a receive; every packet sent is checked against the image.
struct FuzzWorld {
    Reader* input;
    const TftpSession* session;
    const uint8_t* image;
    uint64_t now;
    uint64_t nextArrival;
    bool pending;
    uint8_t choice;
    std::vector<uint8_t> datagram;

    // Reads the next datagram of the input, due after its delay.
    void Schedule() {
        const uint8_t* choiceByte = nullptr;
        const uint8_t* delay = nullptr;
        const uint8_t* length = nullptr;
        const uint8_t* bytes = nullptr;
        pending = false;
        if (!input->Take(1, &choiceByte) || !input->Take(2, &delay) || !input->Take(2, &length)) {
            return;
        }
        size_t datagramSize = GetU16BE(length) % (kTftpPacketSize + 1);
        if (!input->Take(datagramSize, &bytes)) {
            return;
        }
        choice = *choiceByte;
        datagram.assign(bytes, bytes + datagramSize);
        nextArrival = now + GetU16BE(delay);
        pending = true;
    }
};

uint64_t FuzzNow(void* context) {
    return static_cast<FuzzWorld*>(context)->now;
}

// Each receive costs a microsecond, so that time passes for a loop that
// reads datagrams back to back.
int FuzzReceive(void* context, uint8_t* packet, sockaddr_in* sender) {
    auto* world = static_cast<FuzzWorld*>(context);
    world->now += 1;
    if (!world->pending || world->nextArrival > world->now) {
        return -1;
    }
    // The exact size, so that the sanitizers see any read past the datagram.
    IsExpectedReadRequest(world->datagram.data(), static_cast<int>(world->datagram.size()));
    if (!world->datagram.empty()) {
        ExamineDatagram(*world->session, world->datagram.data(), static_cast<int>(world->datagram.size()),
                        SenderFor(world->choice));
    }
    int length = static_cast<int>(world->datagram.size());
    std::copy(world->datagram.begin(), world->datagram.end(), packet);
    *sender = SenderFor(world->choice);
    world->Schedule();
    return length;
}

void FuzzSend(void* context, const uint8_t* packet, size_t length, const sockaddr_in& destination) {
    auto* world = static_cast<FuzzWorld*>(context);
    const TftpSession& session = *world->session;
    uint32_t address = 0;
    uint16_t port = 0;
    SplitSockAddr(destination, &address, &port);
    Check(address == kPeer && port == kPeerPort);
    if (session.nextBlock == 0) {
        Check(GetU16BE(packet) == kTftpOack);
        return;
    }
    Check(GetU16BE(packet) == kTftpData && GetU16BE(packet + 2) == (session.nextBlock & 0xffff));
    Check(length == session.sentSize + 4);
    size_t offset = static_cast<size_t>(session.nextBlock - 1) * kTftpBlockSize;
    Check(offset + session.sentSize <= session.imageSize);
    Check(std::memcmp(packet + 4, world->image + offset, session.sentSize) == 0);
}

bool FuzzPause(void* context, uint64_t microseconds) {
    auto* world = static_cast<FuzzWorld*>(context);
    uint64_t until = world->now + microseconds;
    if (world->pending && world->nextArrival < until) {
        until = world->nextArrival > world->now ? world->nextArrival : world->now;
    }
    world->now = until;
    return world->pending && world->nextArrival <= world->now;
}

void FuzzShowProgress(void* context, const TftpSession& session) {
    Check(&session == static_cast<FuzzWorld*>(context)->session);
    Check(session.nextBlock <= session.blockCount + 1);
    Check(session.bytesAcked <= session.imageSize);
}

void RunSession(Reader* input, uint32_t imageSize) {
    // The image in a buffer of its exact size, so that the sanitizers see any read past it.
    uint8_t* image = static_cast<uint8_t*>(std::malloc(imageSize == 0 ? 1 : imageSize));
    for (uint32_t i = 0; i < imageSize; ++i) {
        image[i] = static_cast<uint8_t>(i * 31 + (i >> 9));
    }
    TftpSession session;
    std::memset(&session, 0, sizeof session);
    session.peerAddress = kPeer;
    session.peerPort = kPeerPort;
    PrepareTransfer(&session, imageSize);
    FuzzWorld world = {input, &session, image, 0, 0, false, 0, {}};
    world.Schedule();
    TransferOps ops = {&world, FuzzNow, FuzzReceive, FuzzSend, FuzzPause, FuzzShowProgress};
    bool complete = RunTransfer(&session, image, ops);
    Check(complete == (session.nextBlock == session.blockCount + 1));
    Check(!complete || session.bytesAcked == session.imageSize);
    // A give-up comes 30 silent cycles of 100 polls of 1 ms after the last accepted ACK at the soonest.
    Check(complete || world.now >= 3000000);
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
