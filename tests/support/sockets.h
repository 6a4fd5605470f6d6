// Loopback sockets for tests: addresses, free ports, a UDP peer. Plain BSD
// sockets, independent of the program's own socket helpers.
#pragma once

#include <cstdint>
#include <vector>

constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1, host order

// "a.b.c.d" in host order.
uint32_t HostAddress(const char* dotted);
// A TCP port the system gives out on `address`, free once the probe is closed.
uint16_t FreePort(uint32_t address);
// Whether something accepts TCP connections on `address`:`port`.
bool Listening(uint32_t address, uint16_t port);

// A UDP socket on 127.0.0.1 with an ephemeral port (or the one given).
class UdpPeer {
public:
    explicit UdpPeer(uint16_t port = 0);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    uint16_t Port() const { return port_; }
    int Fd() const { return fd_; }
    void SendTo(uint16_t port, const std::vector<uint8_t>& packet, uint32_t address = kLoopback) const;
    // One datagram within `timeoutMs`; false when none came.
    bool Receive(std::vector<uint8_t>* packet, int timeoutMs, uint16_t* fromPort = nullptr) const;

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};
