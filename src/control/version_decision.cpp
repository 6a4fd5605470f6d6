// Transition first, or straight to Target, from the device's software version.
#include "src/control/version_decision.h"

#include "src/control/upgrade_state.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kVersionComponents = 3;

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// strtoul with base 0 as a 32-bit unsigned long has it: "-" negates, and a
// magnitude beyond 32 bits reads as 4294967295.
uint32_t ConvertComponent(const char* cursor, char** end) {
    errno = 0;
    unsigned long long value = strtoull(cursor, end, 0);
    if (errno == ERANGE) {
        return 0xffffffffu;
    }
    while (IsBlank(*cursor)) {
        ++cursor;
    }
    unsigned long long magnitude = *cursor == '-' ? 0ull - value : value;
    if (magnitude > 0xffffffffull) {
        return 0xffffffffu;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

int32_t VersionNumber(const char* text) {
    uint32_t value = 0;
    const char* cursor = text;
    for (int i = 0; i < kVersionComponents; ++i) {
        char* end = nullptr;
        value = value * 100u + ConvertComponent(cursor, &end);
        if (*end == '\0') {
            break;
        }
        cursor = end + 1;
    }
    return static_cast<int32_t>(value);
}

void DecideStage() {
    const char* device = upgradeState.deviceInfo.softwareVersion;
    if (strstr(device, "(NT") != nullptr) {
        return;
    }
    int32_t deviceNumber = VersionNumber(device);
    int32_t transitionNumber = VersionNumber(HeaderVersion(upgradeState.transitionImage));
    bool newer = deviceNumber > transitionNumber;
    bool sameWithoutSe = deviceNumber == transitionNumber && strstr(device, "(SE)") == nullptr;
    if (newer || sameWithoutSe) {
        upgradeState.stage.store(Target);
    }
}
