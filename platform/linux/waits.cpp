// Waits that end on what they wait for: a datagram on a socket with an
// event selected, a thread's end, or a new message for the calling thread;
// and the high-resolution counter beside the millisecond clock.
#include "platform/linux/kernel.h"
#include "platform/linux/message_queue.h"
#include "platform/linux/window_registry.h"
#include "platform/win.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <set>
#include <vector>

namespace {

// An event stands for its socket's readability while FD_READ is selected.
struct SocketEvent {
    SOCKET socket = INVALID_SOCKET;
};

std::mutex eventMutex;
std::set<SocketEvent*> liveEvents;

// The descriptor to poll for one handle, and whether it must be closed after.
struct Watched {
    int descriptor;
    bool owned;
};

Watched DescriptorOf(HANDLE handle) {
    {
        std::lock_guard<std::mutex> lock(eventMutex);
        auto* event = static_cast<SocketEvent*>(handle);
        if (liveEvents.count(event) != 0) {
            return {event->socket, false};
        }
    }
    return {layer::DuplicateThreadEndSignal(handle), true};
}

}  // namespace

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
    auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    count->QuadPart = std::chrono::duration_cast<std::chrono::nanoseconds>(sinceStart).count();
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    frequency->QuadPart = 1000000000;
    return TRUE;
}

HANDLE CreateEventA(void*, BOOL, BOOL, LPCSTR) {
    std::lock_guard<std::mutex> lock(eventMutex);
    auto* event = new SocketEvent;
    liveEvents.insert(event);
    return event;
}

BOOL WSACloseEvent(WSAEVENT handle) {
    std::lock_guard<std::mutex> lock(eventMutex);
    auto* event = static_cast<SocketEvent*>(handle);
    if (liveEvents.erase(event) == 0) {
        return FALSE;
    }
    delete event;
    return TRUE;
}

int WSAEventSelect(SOCKET socket, WSAEVENT handle, long networkEvents) {
    std::lock_guard<std::mutex> lock(eventMutex);
    auto* event = static_cast<SocketEvent*>(handle);
    if (liveEvents.count(event) == 0) {
        return SOCKET_ERROR;
    }
    event->socket = (networkEvents & FD_READ) != 0 ? socket : INVALID_SOCKET;
    // As on Windows, a socket with events selected does not block.
    int flags = fcntl(socket, F_GETFL);
    return flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0 ? SOCKET_ERROR : 0;
}

namespace {

DWORD WaitForHandles(DWORD count, const HANDLE* handles, DWORD milliseconds, bool messages) {
    std::vector<pollfd> descriptors;
    std::vector<bool> owned;
    for (DWORD i = 0; i < count; ++i) {
        Watched watched = DescriptorOf(handles[i]);
        descriptors.push_back({watched.descriptor, POLLIN, 0});
        owned.push_back(watched.owned);
    }
    if (messages) {
        std::lock_guard<std::mutex> lock(layer::Mutex());
        descriptors.push_back({layer::MessageWakeDescriptor(std::this_thread::get_id()), POLLIN, 0});
    }
    int timeout = milliseconds == INFINITE ? -1 : static_cast<int>(milliseconds);
    int ready = poll(descriptors.data(), descriptors.size(), timeout);
    DWORD result = ready == 0 ? WAIT_TIMEOUT : WAIT_FAILED;
    for (size_t i = 0; ready > 0 && i < descriptors.size(); ++i) {
        if (descriptors[i].revents != 0) {
            result = WAIT_OBJECT_0 + static_cast<DWORD>(i);
            break;
        }
    }
    for (size_t i = 0; i < owned.size(); ++i) {
        if (owned[i] && descriptors[i].fd >= 0) {
            close(descriptors[i].fd);
        }
    }
    return result;
}

}  // namespace

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL, DWORD milliseconds, DWORD) {
    return WaitForHandles(count, handles, milliseconds, true);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForHandles(1, &handle, milliseconds, false);
}
