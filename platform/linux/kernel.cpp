// kernel32 and winmm: module handle, sleep, threads with an exit code, the
// process exit, and the 32-bit millisecond clock.
#include "platform/linux/event_log.h"
#include "platform/linux/headless.h"
#include "platform/linux/kernel.h"
#include "platform/linux/window_registry.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace {

// What a thread handle stands for; shared by the handle and the running
// thread, so either may go first.
struct ThreadState {
    std::mutex mutex;
    bool running = true;
    DWORD exitCode = STILL_ACTIVE;
    // Readable once the thread has ended, for message waits.
    int endSignal = eventfd(0, EFD_CLOEXEC);
    ~ThreadState() { close(endSignal); }
};

struct ThreadHandle {
    std::shared_ptr<ThreadState> state;
};

struct Kernel {
    std::mutex mutex;
    std::set<ThreadHandle*> handles;
    std::function<void(int)> exitHook;
};

Kernel& TheKernel() {
    static Kernel kernel;
    return kernel;
}

// Added to the monotonic milliseconds by timeGetTime().
std::atomic<uint32_t> clockOffset{0};

uint64_t RealMilliseconds() {
    auto sinceStart = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(sinceStart).count());
}

std::atomic<DWORD> nextThreadId{1};
std::atomic<bool> failNextThreadStart{false};

std::shared_ptr<ThreadState> StateOf(HANDLE handle) {
    Kernel& kernel = TheKernel();
    std::lock_guard<std::mutex> lock(kernel.mutex);
    auto* thread = static_cast<ThreadHandle*>(handle);
    if (kernel.handles.count(thread) == 0) {
        return nullptr;
    }
    return thread->state;
}

void RunThread(const std::shared_ptr<ThreadState>& state, LPTHREAD_START_ROUTINE start, LPVOID parameter) {
    DWORD result = start(parameter);
    std::lock_guard<std::mutex> lock(state->mutex);
    state->exitCode = result;
    state->running = false;
    uint64_t one = 1;
    ssize_t written = write(state->endSignal, &one, sizeof one);
    static_cast<void>(written);  // a full counter is still readable
}

}  // namespace

namespace layer {

int DuplicateThreadEndSignal(HANDLE thread) {
    std::shared_ptr<ThreadState> state = StateOf(thread);
    return state == nullptr ? -1 : dup(state->endSignal);
}

}  // namespace layer

HMODULE GetModuleHandleA(LPCSTR name) {
    // Only the executable itself is a module here.
    return name == nullptr ? reinterpret_cast<HMODULE>(0x400000) : nullptr;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD, DWORD* threadId) {
    if (failNextThreadStart.exchange(false)) {
        return nullptr;
    }
    auto* handle = new ThreadHandle{std::make_shared<ThreadState>()};
    {
        Kernel& kernel = TheKernel();
        std::lock_guard<std::mutex> lock(kernel.mutex);
        kernel.handles.insert(handle);
    }
    if (threadId != nullptr) {
        *threadId = nextThreadId++;
    }
    std::thread(RunThread, handle->state, start, parameter).detach();
    return handle;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    std::shared_ptr<ThreadState> state = StateOf(thread);
    if (state == nullptr || exitCode == nullptr) {
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(state->mutex);
    *exitCode = state->exitCode;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    Kernel& kernel = TheKernel();
    std::lock_guard<std::mutex> lock(kernel.mutex);
    auto* thread = static_cast<ThreadHandle*>(handle);
    if (kernel.handles.erase(thread) == 0) {
        return FALSE;
    }
    delete thread;  // the thread itself runs on
    return TRUE;
}

void ExitProcess(UINT exitCode) {
    {
        std::lock_guard<std::mutex> lock(layer::Mutex());
        headless::Event event;
        event.kind = headless::EventKind::ProcessExit;
        event.exitCode = static_cast<int>(exitCode);
        layer::RecordEvent(event);
    }
    std::function<void(int)> hook;
    {
        Kernel& kernel = TheKernel();
        std::lock_guard<std::mutex> lock(kernel.mutex);
        hook = kernel.exitHook;
    }
    if (hook) {
        hook(static_cast<int>(exitCode));
    }
    std::fflush(nullptr);
    _exit(static_cast<int>(exitCode));
}

DWORD timeGetTime() {
    return static_cast<DWORD>(RealMilliseconds()) + clockOffset;
}

UINT timeBeginPeriod(UINT) {
    return 0;
}  // TIMERR_NOERROR: the clock is always fine-grained

namespace headless {

void SetExitHook(std::function<void(int exitCode)> hook) {
    Kernel& kernel = TheKernel();
    std::lock_guard<std::mutex> lock(kernel.mutex);
    kernel.exitHook = std::move(hook);
}

void SetClockOffset(uint32_t offset) {
    clockOffset = offset;
}

}  // namespace headless

namespace headless {

void FailNextThreadStart() {
    failNextThreadStart = true;
}

}  // namespace headless
