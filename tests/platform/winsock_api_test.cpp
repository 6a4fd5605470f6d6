// Winsock as the program uses it, on the stand-in and under Wine alike:
// start-up, non-blocking UDP, closing, and a datagram longer than the
// buffer. Loopback only. Lengths are passed as int, as the program passes
// them: the stand-in's recvfrom is Winsock's only under Winsock's types.
#include "stand_in.h"

#include "platform/win.h"

#include <cstring>
#include <string>

namespace {

class Winsock : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    }

    // A UDP socket on a free loopback port; `address` gets its address.
    static SOCKET BoundUdp(sockaddr_in* address) {
        SOCKET udp = socket(AF_INET, SOCK_DGRAM, 0);
        *address = {};
        address->sin_family = AF_INET;
        address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        SockLen length = sizeof *address;
        if (bind(udp, AsAddress(address), length) != 0 || getsockname(udp, AsAddress(address), &length) != 0) {
            closesocket(udp);
            return INVALID_SOCKET;
        }
        return udp;
    }

    static sockaddr* AsAddress(sockaddr_in* address) { return reinterpret_cast<sockaddr*>(address); }

    static int Receive(SOCKET udp, char* packet, int capacity) {
        sockaddr_in from = {};
        SockLen fromLength = sizeof from;
        return recvfrom(udp, packet, capacity, 0, AsAddress(&from), &fromLength);
    }
};

TEST_F(Winsock, StartupChecksTheVersion) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_GE(data.wHighVersion, 0x0101);
    EXPECT_NE(WSAStartup(0x0000, &data), 0) << "version 0 does not exist";
    EXPECT_NE(WSAStartup(0x0101, nullptr), 0);
}

TEST_F(Winsock, NonBlockingReceiveAndClose) {
    sockaddr_in address;
    SOCKET udp = BoundUdp(&address);
    ASSERT_NE(udp, INVALID_SOCKET);
    unsigned long on = 1;
    ASSERT_EQ(ioctlsocket(udp, FIONBIO, &on), 0);
    char packet[16];
    EXPECT_EQ(Receive(udp, packet, 16), SOCKET_ERROR) << "nothing there: it would block";

    ASSERT_EQ(sendto(udp, "ping", 4, 0, AsAddress(&address), sizeof address), 4);
    int got = SOCKET_ERROR;
    for (int i = 0; i < 1000 && got == SOCKET_ERROR; ++i) {
        got = Receive(udp, packet, 16);
        Sleep(1);
    }
    EXPECT_EQ(got, 4);

    unsigned long off = 0;
    EXPECT_EQ(ioctlsocket(udp, FIONBIO, &off), 0);
    EXPECT_STAND_IN_DIFFERS(ioctlsocket(udp, FIONREAD, &on) == 0, ioctlsocket(udp, FIONREAD, &on) == SOCKET_ERROR,
                            "the stand-in offers FIONBIO alone: the program asks for no other");
    EXPECT_EQ(closesocket(udp), 0);
    EXPECT_EQ(closesocket(udp), SOCKET_ERROR);
    EXPECT_EQ(ioctlsocket(udp, FIONBIO, &on), SOCKET_ERROR);
}

// Windows fails the receive (WSAEMSGSIZE) with the buffer filled and drops
// the rest; the transfer and the listener then take it for no datagram.
TEST_F(Winsock, ADatagramLongerThanTheBufferFailsTheReceiveAndIsDropped) {
    sockaddr_in address;
    SOCKET udp = BoundUdp(&address);
    ASSERT_NE(udp, INVALID_SOCKET);
    std::string longer(100, 'L');
    ASSERT_EQ(sendto(udp, longer.data(), 100, 0, AsAddress(&address), sizeof address), 100);
    ASSERT_EQ(sendto(udp, "next", 4, 0, AsAddress(&address), sizeof address), 4);

    char packet[16] = {};
    EXPECT_EQ(Receive(udp, packet, 16), SOCKET_ERROR);  // both wait on loopback: no blocking
    EXPECT_EQ(std::string(packet, 16), longer.substr(0, 16)) << "the buffer holds the first part";
    EXPECT_EQ(Receive(udp, packet, 16), 4) << "the rest of the long datagram is gone";
    EXPECT_EQ(std::string(packet, 4), "next");
    closesocket(udp);
}

}  // namespace
