// What only the stand-in's Winsock has (the rest is in
// winsock_api_test.cpp): the start-up's failure switch, SIGPIPE, and
// non-blocking mode as the descriptor's flag. Loopback only.
#include "platform/linux/headless.h"
#include "platform/win.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>

namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

sockaddr* AsAddress(sockaddr_in* address) {
    return reinterpret_cast<sockaddr*>(address);
}

uint16_t BoundPort(SOCKET socket) {
    sockaddr_in bound = {};
    socklen_t length = sizeof bound;
    getsockname(socket, AsAddress(&bound), &length);
    return ntohs(bound.sin_port);
}

TEST(WinsockStandIn, StartupCanBeMadeToFail) {
    WSADATA data;
    headless::FailNextWsaStartup();
    EXPECT_NE(WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(WSAStartup(0x0101, &data), 0) << "only the next one fails";
}

TEST(WinsockStandIn, StartupIgnoresSigpipeSoAClosedPeerIsAnError) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    struct sigaction current = {};
    sigaction(SIGPIPE, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_IGN);

    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    ASSERT_EQ(bind(listener, AsAddress(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    address.sin_port = htons(BoundPort(listener));
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(client, AsAddress(&address), sizeof address), 0);
    SOCKET accepted = accept(listener, nullptr, nullptr);
    closesocket(accepted);
    int result = 0;
    for (int i = 0; i < 100 && result >= 0; ++i) {
        result = static_cast<int>(send(client, "x", 1, 0));
        Sleep(1);
    }
    EXPECT_EQ(result, SOCKET_ERROR) << "the process is still here to see the error";
    EXPECT_TRUE(errno == EPIPE || errno == ECONNRESET) << errno;
    closesocket(client);
    closesocket(listener);
}

// Errors come as errno: the program tells success from failure alone.
TEST(WinsockStandIn, NonBlockingModeIsTheDescriptorsFlag) {
    SOCKET udp = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(udp, INVALID_SOCKET);
    unsigned long on = 1;
    ASSERT_EQ(ioctlsocket(udp, FIONBIO, &on), 0);
    EXPECT_TRUE(fcntl(udp, F_GETFL) & O_NONBLOCK);
    char packet[16];
    EXPECT_EQ(recvfrom(udp, packet, 16, 0, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
    unsigned long off = 0;
    ASSERT_EQ(ioctlsocket(udp, FIONBIO, &off), 0);
    EXPECT_FALSE(fcntl(udp, F_GETFL) & O_NONBLOCK);
    closesocket(udp);
}

}  // namespace
