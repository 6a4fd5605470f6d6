// OutputDebugStringA: kept in memory for tests, as a debugger would show it.
#include "platform/linux/headless.h"

#include <mutex>
#include <string>

namespace {

constexpr size_t kDebugOutputLimit = 4u << 20;

std::mutex debugMutex;
std::string debugOutput;

}  // namespace

void OutputDebugStringA(LPCSTR text) {
    if (text == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> lock(debugMutex);
    debugOutput += text;
    if (debugOutput.size() > kDebugOutputLimit) {
        debugOutput.erase(0, debugOutput.size() - kDebugOutputLimit);
    }
}

namespace headless {

std::string TakeDebugOutput() {
    std::lock_guard<std::mutex> lock(debugMutex);
    std::string taken;
    taken.swap(debugOutput);
    return taken;
}

}  // namespace headless
