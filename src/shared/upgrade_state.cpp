// The program-wide record, the guarded file name and the failure convention.
#include "src/shared/upgrade_state.h"

#include "src/shared/texts.h"
#include "src/shared/trace.h"

#include <cstdio>
#include <cstring>
#include <mutex>

UpgradeState upgradeState;

namespace {

std::mutex fileNameLock;
char fileName[kTextFieldSize];

}  // namespace

void SetFileName(const char* name) {
    std::lock_guard<std::mutex> hold(fileNameLock);
    snprintf(fileName, sizeof fileName, "%s", name);
}

void CopyFileName(char* out, size_t size) {
    std::lock_guard<std::mutex> hold(fileNameLock);
    snprintf(out, size, "%s", fileName);
}

bool FileNameMatches(const char* received, size_t length) {
    std::lock_guard<std::mutex> hold(fileNameLock);
    size_t nameLength = strlen(fileName);
    // The name and its NUL must both lie within the bytes received.
    return nameLength < length && memcmp(received, fileName, nameLength + 1) == 0;
}

void NoteTriggerEnded(DWORD now) {
    uint64_t stageTag = static_cast<uint64_t>(upgradeState.stage.load()) + 1;
    upgradeState.triggerEnded.store(stageTag << 32 | now);
}

const char* HeaderVersion(const FirmwareImage& image) {
    return reinterpret_cast<const char*>(image.header + kHeaderVersionOffset);
}

const FirmwareImage& StageImage() {
    return upgradeState.stage.load() == Target ? upgradeState.targetImage : upgradeState.transitionImage;
}

const char* StageWord() {
    return upgradeState.stage.load() == Target ? "Target" : "Transition";
}

int ReportError(const char* message, const char* caption) {
    return MessageBoxA(nullptr, message, caption ? caption : text::kDefaultErrorCaption, MB_TASKMODAL);
}

namespace {

std::atomic<bool> failing{false};

}  // namespace

bool UpgradeFailing() {
    return failing.load();
}

void FailUpgrade(const char* message) {
    failing.store(true);
    FlushTrace();
    ReportError(message, nullptr);
    ExitProcess(0);
}
