// Loopback sockets for tests.
#include "tests/support/sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace {

sockaddr_in SocketAddress(uint32_t address, uint16_t port) {
    sockaddr_in result = {};
    result.sin_family = AF_INET;
    result.sin_addr.s_addr = htonl(address);
    result.sin_port = htons(port);
    return result;
}

// The port the system gave `fd` after bind.
uint16_t BoundPort(int fd) {
    sockaddr_in bound = {};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    return ntohs(bound.sin_port);
}

}  // namespace

uint32_t HostAddress(const char* dotted) {
    in_addr address = {};
    inet_pton(AF_INET, dotted, &address);
    return ntohl(address.s_addr);
}

uint16_t FreePort(uint32_t address) {
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local = SocketAddress(address, 0);
    bind(probe, reinterpret_cast<sockaddr*>(&local), sizeof local);
    uint16_t port = BoundPort(probe);
    close(probe);
    return port;
}

bool Listening(uint32_t address, uint16_t port) {
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in server = SocketAddress(address, port);
    bool connected = connect(probe, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    close(probe);
    return connected;
}

UdpPeer::UdpPeer(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local = SocketAddress(kLoopback, port);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::perror("UdpPeer bind");
    }
    port_ = BoundPort(fd_);
}

UdpPeer::~UdpPeer() {
    close(fd_);
}

void UdpPeer::SendTo(uint16_t port, const std::vector<uint8_t>& packet, uint32_t address) const {
    sockaddr_in destination = SocketAddress(address, port);
    sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&destination), sizeof destination);
}

bool UdpPeer::Receive(std::vector<uint8_t>* packet, int timeoutMs, uint16_t* fromPort) const {
    pollfd ready = {fd_, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) <= 0) {
        return false;
    }
    packet->resize(2048);
    sockaddr_in sender = {};
    socklen_t length = sizeof sender;
    ssize_t received = recvfrom(fd_, packet->data(), packet->size(), 0, reinterpret_cast<sockaddr*>(&sender), &length);
    if (received < 0) {
        return false;
    }
    packet->resize(static_cast<size_t>(received));
    if (fromPort != nullptr) {
        *fromPort = ntohs(sender.sin_port);
    }
    return true;
}
