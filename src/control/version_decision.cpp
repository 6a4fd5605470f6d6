// Transition first, or straight to Target, from the device's software version.
#include "src/control/version_decision.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kVersionComponents = 3;

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

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

int CompareVersions(const char* a, const char* b) {
    int32_t first = VersionNumber(a);
    int32_t second = VersionNumber(b);
    return first < second ? -1 : (first > second ? 1 : 0);
}

// A "(NT" marker, an older number, or the same number with "(SE)" means the
// Transition image first.
Stage ChooseStage(const char* deviceVersion, const char* transitionVersion) {
    if (strstr(deviceVersion, "(NT") != nullptr) {
        return Transition;
    }
    int order = CompareVersions(deviceVersion, transitionVersion);
    bool sameWithoutSe = order == 0 && strstr(deviceVersion, "(SE)") == nullptr;
    return order > 0 || sameWithoutSe ? Target : Transition;
}

void DecideStage() {
    if (ChooseStage(upgradeState.deviceInfo.softwareVersion, HeaderVersion(upgradeState.transitionImage)) == Target) {
        upgradeState.stage.store(Target);
    }
}
