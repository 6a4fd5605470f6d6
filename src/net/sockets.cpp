// Socket helpers shared by the web client and the TFTP server.
#include "src/net/sockets.h"

#include <cstring>

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

uint16_t BindFirstFree(SOCKET socket, uint32_t address, uint16_t firstPort, int tries) {
    for (int attempt = 0; attempt < tries; ++attempt) {
        uint16_t port = static_cast<uint16_t>(firstPort + attempt);
        sockaddr_in local;
        MakeSockAddr(address, port, &local);
        if (bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) {
            return port;
        }
    }
    return 0;
}

uint32_t LocalAddressToward(uint32_t address) {
    SOCKET probe = socket(AF_INET, SOCK_DGRAM, 0);
    if (probe == INVALID_SOCKET) {
        return 0;
    }
    // Any port: a connected datagram socket only notes its peer.
    constexpr uint16_t kProbePort = 9;
    sockaddr_in peer;
    MakeSockAddr(address, kProbePort, &peer);
    uint32_t local = 0;
    if (connect(probe, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
        sockaddr_in bound;
        SockLen length = sizeof bound;
        uint16_t port = 0;
        if (getsockname(probe, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
            SplitSockAddr(bound, &local, &port);
        }
    }
    closesocket(probe);
    return local;
}

int ReceiveDatagram(SOCKET udpSocket, uint8_t* buffer, int capacity, sockaddr_in* sender) {
    SockLen senderLength = sizeof *sender;
    std::memset(sender, 0, sizeof *sender);
    return static_cast<int>(recvfrom(udpSocket, reinterpret_cast<char*>(buffer), capacity, 0,
                                     reinterpret_cast<sockaddr*>(sender), &senderLength));
}

DatagramWatch WatchForDatagrams(SOCKET udpSocket) {
    DatagramWatch watch = {udpSocket, CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    WSAEventSelect(udpSocket, watch.event, FD_READ);
    return watch;
}

void StopWatching(DatagramWatch* watch) {
    WSAEventSelect(watch->udpSocket, watch->event, 0);
    WSACloseEvent(watch->event);
    watch->event = nullptr;
}

bool PauseUntilDatagram(DatagramWatch* watch, DWORD milliseconds) {
    DWORD woken = WaitForSingleObject(watch->event, milliseconds);
    return woken == WAIT_OBJECT_0 || woken == WAIT_FAILED;
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
