// What the test driver is told, in the order it happened.
#include "platform/linux/event_log.h"

#include "platform/linux/window_registry.h"

namespace layer {

namespace {

std::vector<headless::Event>& Log() {
    static std::vector<headless::Event> log;
    return log;
}

}  // namespace

void RecordEvent(headless::Event event) {
    std::vector<headless::Event>& log = Log();
    event.sequence = log.size() + 1;
    log.push_back(std::move(event));
    Changed().notify_all();
}

const std::vector<headless::Event>& RecordedEvents() {
    return Log();
}

}  // namespace layer
