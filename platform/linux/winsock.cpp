// Winsock 1.1 start-up, the calls whose names differ from the BSD ones, and
// recvfrom where Winsock's differs.
#include "platform/linux/headless.h"
#include "platform/win.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>

#include <atomic>
#include <cstdio>

namespace {

constexpr int kWsaeFault = 10014;
constexpr int kWsaSysNotReady = 10091;
constexpr int kWsaVerNotSupported = 10092;
constexpr WORD kHighestVersion = 0x0202;

std::atomic<bool> failNextStartup{false};
std::atomic<int> startups{0};

}  // namespace

int WSAStartup(WORD version, WSADATA* data) {
    if (failNextStartup.exchange(false)) {
        return kWsaSysNotReady;
    }
    if (data == nullptr) {
        return kWsaeFault;
    }
    BYTE major = version & 0xFF;
    if (major == 0) {
        return kWsaVerNotSupported;
    }
    // A peer that has gone away must give an error, not end the process.
    signal(SIGPIPE, SIG_IGN);
    *data = WSADATA();
    data->wVersion = major > 2 ? kHighestVersion : version;
    data->wHighVersion = kHighestVersion;
    std::snprintf(data->szDescription, sizeof data->szDescription, "BSD sockets");
    std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
    ++startups;
    return 0;
}

int closesocket(SOCKET socket) {
    return close(socket);
}

// BSD's recvfrom returns the first part of a datagram longer than the buffer
// as if it were whole; Winsock's fails the receive (WSAEMSGSIZE), the buffer
// filled and the rest of the datagram dropped.
int recvfrom(SOCKET socket, char* buffer, int length, int flags, sockaddr* from, SockLen* fromLength) {
    iovec part = {buffer, static_cast<size_t>(length)};
    msghdr message = {};
    message.msg_name = from;
    message.msg_namelen = fromLength == nullptr ? 0 : *fromLength;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    ssize_t received = recvmsg(socket, &message, flags);
    if (fromLength != nullptr) {
        *fromLength = message.msg_namelen;
    }
    if (received >= 0 && (message.msg_flags & MSG_TRUNC)) {
        errno = EMSGSIZE;
        return SOCKET_ERROR;
    }
    return static_cast<int>(received);
}

int ioctlsocket(SOCKET socket, long command, unsigned long* argument) {
    if (command != static_cast<long>(FIONBIO) || argument == nullptr) {
        errno = EINVAL;
        return SOCKET_ERROR;
    }
    int flags = fcntl(socket, F_GETFL);
    if (flags < 0) {
        return SOCKET_ERROR;
    }
    flags = *argument != 0 ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
    return fcntl(socket, F_SETFL, flags) < 0 ? SOCKET_ERROR : 0;
}

namespace headless {

void FailNextWsaStartup() {
    failNextStartup = true;
}

}  // namespace headless
