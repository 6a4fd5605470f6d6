// The socket helpers shared by the web client and the TFTP server: socket
// addresses byte for byte, and the search for a free local port.
#include "src/net/sockets.h"
#include "tests/support/sockets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(SockAddr, MakesNetworkOrderAndSplitsBack) {
    sockaddr_in address;
    std::memset(&address, 0xaa, sizeof address);
    MakeSockAddr(0xC0000201u, 69, &address);  // 192.0.2.1
    EXPECT_EQ(address.sin_family, AF_INET);
    const auto* port = reinterpret_cast<const uint8_t*>(&address.sin_port);
    EXPECT_EQ(port[0], 0);
    EXPECT_EQ(port[1], 69);
    const auto* octets = reinterpret_cast<const uint8_t*>(&address.sin_addr.s_addr);
    EXPECT_EQ(octets[0], 192);
    EXPECT_EQ(octets[1], 0);
    EXPECT_EQ(octets[2], 2);
    EXPECT_EQ(octets[3], 1);

    uint32_t splitAddress = 0;
    uint16_t splitPort = 0;
    SplitSockAddr(address, &splitAddress, &splitPort);
    EXPECT_EQ(splitAddress, 0xC0000201u);
    EXPECT_EQ(splitPort, 69);
}

TEST(SockAddr, ZeroIsTheAnyAddress) {
    sockaddr_in address;
    std::memset(&address, 0x55, sizeof address);
    MakeSockAddr(0, 23456, &address);
    EXPECT_EQ(address.sin_addr.s_addr, htonl(INADDR_ANY));
    EXPECT_EQ(ntohs(address.sin_port), 23456);
}

// Ports held by other sockets are passed over, for UDP and TCP alike; with
// every port of the range held, the search gives 0.
TEST(BindFirstFree, PassesOverHeldPortsAndGivesUpAfterTheRange) {
    const uint32_t address = HostAddress("127.0.61.1");
    for (int type : {SOCK_DGRAM, SOCK_STREAM}) {
        uint16_t first = FreePort(address);
        std::vector<SOCKET> held;
        for (int i = 0; i < 3; ++i) {
            held.push_back(socket(AF_INET, type, 0));
            ASSERT_EQ(BindFirstFree(held.back(), address, static_cast<uint16_t>(first + i), 1), first + i) << type;
        }
        SOCKET searching = socket(AF_INET, type, 0);
        EXPECT_EQ(BindFirstFree(searching, address, first, 3), 0) << type;
        EXPECT_EQ(BindFirstFree(searching, address, first, 5), first + 3) << type;
        closesocket(searching);
        for (SOCKET socket : held) {
            closesocket(socket);
        }
    }
}

// The routes' answer without a packet sent: loopback reaches loopback.
TEST(LocalAddressToward, NamesTheAddressTheRoutesSendFrom) {
    EXPECT_EQ(LocalAddressToward(HostAddress("127.0.0.1")), HostAddress("127.0.0.1"));
    EXPECT_EQ(LocalAddressToward(HostAddress("127.0.61.1")) >> 24, 127u);
}

}  // namespace
