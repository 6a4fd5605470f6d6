// TFTP packet building and the socket address helpers shared with the web client.
#include "src/tftp/packets.h"

#include <cstdio>
#include <cstring>

void PutU16BE(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>((value >> 8) & 0xff);
    bytes[1] = static_cast<uint8_t>(value & 0xff);
}

uint16_t GetU16BE(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] * 256 + bytes[1]);
}

void MakeSockAddr(uint32_t address, uint16_t port, sockaddr_in* out) {
    std::memset(out, 0, sizeof *out);
    out->sin_family = AF_INET;
    out->sin_port = htons(port);
    out->sin_addr.s_addr = htonl(address);
}

void SplitSockAddr(const sockaddr_in& address, uint32_t* outAddress, uint16_t* outPort) {
    *outAddress = ntohl(address.sin_addr.s_addr);
    *outPort = ntohs(address.sin_port);
}

// RFC 2347 option acknowledgement with the RFC 2349 options tsize and timeout;
// the timeout is only announced, the session keeps its own retransmission pace.
size_t BuildOack(uint8_t* packet, uint32_t imageSize) {
    static const char kTsize[] = "tsize";
    static const char kTimeout[] =
        "timeout\0"
        "5";
    PutU16BE(packet, kTftpOack);
    size_t length = 2;
    std::memcpy(packet + length, kTsize, sizeof kTsize);
    length += sizeof kTsize;
    char digits[16];
    int digitCount = std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(imageSize));
    std::memcpy(packet + length, digits, static_cast<size_t>(digitCount) + 1);
    length += static_cast<size_t>(digitCount) + 1;
    std::memcpy(packet + length, kTimeout, sizeof kTimeout);
    length += sizeof kTimeout;
    return length;
}

size_t BuildDataBlock(uint8_t* packet, const uint8_t* payload, uint32_t payloadSize, uint32_t block) {
    if (payloadSize > kTftpBlockSize) {
        payloadSize = kTftpBlockSize;
    }
    PutU16BE(packet, kTftpData);
    PutU16BE(packet + 2, block);
    if (payloadSize > 0) {
        std::memcpy(packet + 4, payload, payloadSize);
    }
    return payloadSize + 4;
}

int ReceiveDatagram(SOCKET udpSocket, uint8_t* packet, sockaddr_in* sender) {
    SockLen senderLength = sizeof *sender;
    std::memset(sender, 0, sizeof *sender);
    return static_cast<int>(recvfrom(udpSocket, reinterpret_cast<char*>(packet), static_cast<int>(kTftpPacketSize), 0,
                                     reinterpret_cast<sockaddr*>(sender), &senderLength));
}

DatagramWatch WatchForDatagrams(SOCKET udpSocket) {
    DatagramWatch watch = {udpSocket, WSACreateEvent()};
    WSAEventSelect(udpSocket, watch.event, FD_READ);
    return watch;
}

void StopWatching(DatagramWatch* watch) {
    WSAEventSelect(watch->udpSocket, watch->event, 0);
    WSACloseEvent(watch->event);
    watch->event = WSA_INVALID_EVENT;
}

void PauseUntilDatagramOrMessage(DatagramWatch* watch, DWORD milliseconds) {
    DWORD woken = MsgWaitForMultipleObjects(1, &watch->event, FALSE, milliseconds, QS_ALLINPUT);
    // The event stays set until reset; the receive that follows reads what set it.
    if (woken == WAIT_OBJECT_0) {
        WSAResetEvent(watch->event);
    }
}

uint64_t MicrosecondsNow() {
    static const int64_t perSecond = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return frequency.QuadPart;
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<uint64_t>(count.QuadPart / perSecond * 1000000 +
                                 count.QuadPart % perSecond * 1000000 / perSecond);
}
