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
