// The one program-wide record through which the subsystems pass the
// upgrade's progress, and the failure convention every subsystem follows.
#pragma once

#include "platform/win.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

enum Stage : int32_t { Transition = 0, Target = 1 };

constexpr size_t kTextFieldSize = 128;  // names, versions, page values: at most 127 characters
constexpr size_t kHeaderSize = 128;
constexpr size_t kHeaderVersionOffset = 92;
constexpr uint32_t kHttpBufferSize = 131072;
constexpr uint32_t kHttpCapacity = kHttpBufferSize - 1;  // one byte for the terminating NUL
constexpr int kLocalAddressCount = 8;

// What the device's "/admin/advanced" page said about it.
struct DeviceInfo {
    char productName[kTextFieldSize];
    char macAddress[kTextFieldSize];
    char softwareVersion[kTextFieldSize];
    char hardwareVersion[kTextFieldSize];
    char serialNumber[kTextFieldSize];
};

// One firmware image embedded in the executable; `bytes` stays valid for the
// whole run and is never copied whole.
struct FirmwareImage {
    const uint8_t* bytes;
    uint32_t size;
    uint8_t header[kHeaderSize];
};

struct UpgradeState {
    HINSTANCE instance;
    std::atomic<int32_t> stage;  // Transition -> Target, written by the listener while the main thread polls
    uint32_t deviceAddress;      // IPv4 addresses are host order, first octet most significant
    char deviceAddressText[64];
    uint32_t localAddresses[kLocalAddressCount];
    uint32_t localAddress;
    char displayName[32];
    int32_t handsetVariant;
    DeviceInfo deviceInfo;
    FirmwareImage transitionImage;
    FirmwareImage targetImage;
    char httpBuffer[kHttpBufferSize];
};

extern UpgradeState upgradeState;

// The expected TFTP file name. The main thread replaces it while the listener
// thread compares read requests with it, so it lives behind a lock.
void SetFileName(const char* name);
void CopyFileName(char* out, size_t size);
// True when the `length` bytes at `received` start with the expected name and
// its NUL; never reads past `length`.
bool FileNameMatches(const char* received, size_t length);

// The version text in an image header (offset 92, NUL-terminated).
const char* HeaderVersion(const FirmwareImage& image);
// The image the current stage serves.
const FirmwareImage& StageImage();
// "Target" or "Transition", as window titles name the stage.
const char* StageWord();

// The failure message box: no owner, OK only, task-modal. A null caption
// means the default "QOR Firwmare Upgrade Error".
int ReportError(const char* text, const char* caption);
// The failure convention: show `text` with the default caption, then end the
// process with exit status 0.
[[noreturn]] void FailUpgrade(const char* text);
