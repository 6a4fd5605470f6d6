// Per-thread message queues, and the calls that post, peek and wait.
#include "platform/linux/message_queue.h"

#include "platform/linux/window_registry.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <deque>
#include <map>

namespace layer {

namespace {

std::map<std::thread::id, std::deque<MSG>>& Queues() {
    static std::map<std::thread::id, std::deque<MSG>> queues;
    return queues;
}

// A message another thread sent, waiting for its owner to run it.
struct SentMessage {
    MSG msg;
    LRESULT result;
    bool done;
};

std::map<std::thread::id, std::deque<SentMessage*>>& Sent() {
    static std::map<std::thread::id, std::deque<SentMessage*>> sent;
    return sent;
}

// Raised by a post, lowered when the thread looks at its queue.
struct QueueWake {
    int descriptor = -1;
    bool raised = false;
};

std::map<std::thread::id, QueueWake>& Wakes() {
    static std::map<std::thread::id, QueueWake> wakes;
    return wakes;
}

void Raise(QueueWake* wake) {
    if (wake->descriptor >= 0 && !wake->raised) {
        uint64_t one = 1;
        ssize_t written = write(wake->descriptor, &one, sizeof one);
        wake->raised = written == sizeof one;
    }
}

void Lower(std::thread::id thread) {
    auto found = Wakes().find(thread);
    if (found != Wakes().end() && found->second.raised) {
        uint64_t count = 0;
        ssize_t drained = read(found->second.descriptor, &count, sizeof count);
        found->second.raised = drained != sizeof count;
    }
}

bool Accepts(const MSG& msg, HWND window, UINT filterMin, UINT filterMax) {
    if (window != nullptr && !IsWithin(msg.hwnd, window)) {
        return false;
    }
    return (filterMin == 0 && filterMax == 0) || (msg.message >= filterMin && msg.message <= filterMax);
}

void Wake(std::thread::id thread) {
    auto wake = Wakes().find(thread);
    if (wake != Wakes().end()) {
        Raise(&wake->second);
    }
    Changed().notify_all();
}

}  // namespace

void PostToThread(std::thread::id thread, const MSG& msg) {
    Queues()[thread].push_back(msg);
    Wake(thread);
}

LRESULT SendToOwner(std::thread::id owner, const MSG& msg, std::unique_lock<std::mutex>* lock) {
    SentMessage sent = {msg, 0, false};
    Sent()[owner].push_back(&sent);
    Wake(owner);
    Changed().wait(*lock, [&] { return sent.done; });
    return sent.result;
}

void RunSentMessages(std::unique_lock<std::mutex>* lock) {
    std::deque<SentMessage*>& waiting = Sent()[std::this_thread::get_id()];
    while (!waiting.empty()) {
        SentMessage* sent = waiting.front();
        waiting.pop_front();
        lock->unlock();
        LRESULT result = Deliver(sent->msg.hwnd, sent->msg.message, sent->msg.wParam, sent->msg.lParam);
        lock->lock();
        sent->result = result;
        sent->done = true;
        Changed().notify_all();
    }
}

int MessageWakeDescriptor(std::thread::id thread) {
    QueueWake& wake = Wakes()[thread];
    if (wake.descriptor < 0) {
        wake.descriptor = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        auto queue = Queues().find(thread);
        auto sent = Sent().find(thread);
        if ((queue != Queues().end() && !queue->second.empty()) || (sent != Sent().end() && !sent->second.empty())) {
            Raise(&wake);
        }
    }
    return wake.descriptor;
}

bool TakeMessage(std::thread::id thread, HWND window, UINT filterMin, UINT filterMax, bool remove, MSG* msg) {
    Lower(thread);
    auto found = Queues().find(thread);
    if (found == Queues().end()) {
        return false;
    }
    std::deque<MSG>& queue = found->second;
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (Accepts(*it, window, filterMin, filterMax)) {
            *msg = *it;
            if (remove) {
                queue.erase(it);
            }
            return true;
        }
    }
    return false;
}

void DropMessagesFor(HWND window) {
    for (auto& entry : Queues()) {
        std::deque<MSG>& queue = entry.second;
        for (auto it = queue.begin(); it != queue.end();) {
            it = it->hwnd == window ? queue.erase(it) : it + 1;
        }
    }
}

}  // namespace layer

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(layer::Mutex());
    std::thread::id thread = std::this_thread::get_id();
    if (window != nullptr) {
        layer::Window* target = layer::Find(window);
        if (target == nullptr) {
            return FALSE;
        }
        thread = target->owner;
    }
    MSG msg = {};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = timeGetTime();
    layer::PostToThread(thread, msg);
    return TRUE;
}

// Both run what other threads sent first, whatever the filter, as Windows does.
BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT remove) {
    std::unique_lock<std::mutex> lock(layer::Mutex());
    layer::RunSentMessages(&lock);
    return layer::TakeMessage(std::this_thread::get_id(), window, filterMin, filterMax, (remove & PM_REMOVE) != 0, msg);
}

BOOL GetMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax) {
    std::unique_lock<std::mutex> lock(layer::Mutex());
    std::thread::id self = std::this_thread::get_id();
    for (;;) {
        layer::RunSentMessages(&lock);
        if (layer::TakeMessage(self, window, filterMin, filterMax, true, msg)) {
            return TRUE;
        }
        layer::Changed().wait(lock);
    }
}

BOOL TranslateMessage(const MSG*) {
    return TRUE;
}  // no character messages are made from keys here
