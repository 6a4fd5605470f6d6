// Winsock 1.1 start-up and the calls whose names differ from the BSD ones.
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
