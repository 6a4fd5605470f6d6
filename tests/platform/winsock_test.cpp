// Winsock names over BSD sockets: start-up and its failure switch, SIGPIPE,
// non-blocking mode, closing. Loopback only.
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

TEST(Winsock, StartupChecksTheVersionAndCanBeMadeToFail) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_GE(data.wHighVersion, 0x0101);
    EXPECT_NE(WSAStartup(0x0000, &data), 0) << "version 0 does not exist";
    EXPECT_NE(WSAStartup(0x0101, nullptr), 0);

    headless::FailNextWsaStartup();
    EXPECT_NE(WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(WSAStartup(0x0101, &data), 0) << "only the next one fails";
}

TEST(Winsock, StartupIgnoresSigpipeSoAClosedPeerIsAnError) {
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

TEST(Winsock, NonBlockingReceiveAndClose) {
    SOCKET udp = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(udp, INVALID_SOCKET);
    sockaddr_in address = Loopback(0);
    ASSERT_EQ(bind(udp, AsAddress(&address), sizeof address), 0);
    address.sin_port = htons(BoundPort(udp));

    unsigned long on = 1;
    ASSERT_EQ(ioctlsocket(udp, FIONBIO, &on), 0);
    char packet[16];
    sockaddr_in from = {};
    socklen_t fromLength = sizeof from;
    EXPECT_EQ(recvfrom(udp, packet, sizeof packet, 0, AsAddress(&from), &fromLength), SOCKET_ERROR);
    EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);

    ASSERT_EQ(sendto(udp, "ping", 4, 0, AsAddress(&address), sizeof address), 4);
    ssize_t got = -1;
    for (int i = 0; i < 1000 && got < 0; ++i) {
        got = recvfrom(udp, packet, sizeof packet, 0, AsAddress(&from), &fromLength);
        Sleep(1);
    }
    EXPECT_EQ(got, 4);

    unsigned long off = 0;
    ASSERT_EQ(ioctlsocket(udp, FIONBIO, &off), 0);
    EXPECT_FALSE(fcntl(udp, F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(ioctlsocket(udp, FIONREAD, &on), SOCKET_ERROR) << "only FIONBIO is offered";
    EXPECT_EQ(closesocket(udp), 0);
    EXPECT_EQ(closesocket(udp), SOCKET_ERROR);
    EXPECT_EQ(ioctlsocket(udp, FIONBIO, &on), SOCKET_ERROR);
}

}  // namespace
