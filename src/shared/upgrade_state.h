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

// Who writes each field, on which thread and when. "Start-up" is WinMain on
// the main thread before any other thread exists; fields written then are
// only read afterwards. A request worker's writes reach the thread that ran
// the request (the main thread, or the listener thread after a restart) when
// that thread has seen the worker end; requests never overlap.
struct UpgradeState {
    HINSTANCE instance;          // start-up
    std::atomic<int32_t> stage;  // Transition at start; Target from the main thread's version decision
                                 // (before the listener exists) or from the listener thread after the
                                 // Transition stage, while the main thread polls it
    uint32_t deviceAddress;      // main thread, address dialog, before any request; host order, first octet
                                 // most significant (so every IPv4 address here)
    char deviceAddressText[64];  // main thread, address dialog; read by the listener for its titles
    uint32_t localAddresses[kLocalAddressCount];  // start-up
    uint32_t localAddress;             // start-up, then the main thread's address dialog, before the listener
    char displayName[32];              // start-up (product identification)
    int32_t handsetVariant;            // start-up (product identification)
    DeviceInfo deviceInfo;             // the request worker of each page query (the answer's fields)
    FirmwareImage transitionImage;     // start-up (image store)
    FirmwareImage targetImage;         // start-up (image store)
    char httpBuffer[kHttpBufferSize];  // the request worker of the current attempt: request, then answer
    // When the request of the last upgrade trigger ended: (stage + 1) << 32 | milliseconds, 0 before the
    // first. The main thread writes it after each trigger; the listener thread reads it while it waits.
    std::atomic<uint64_t> triggerEnded;
};

extern UpgradeState upgradeState;

// The expected TFTP file name. The main thread replaces it while the listener
// thread compares read requests with it, so it lives behind a lock.
void SetFileName(const char* name);
void CopyFileName(char* out, size_t size);
// True when the `length` bytes at `received` start with the expected name and
// its NUL; never reads past `length`.
bool FileNameMatches(const char* received, size_t length);

// The trigger of the current stage has had its answer (or none) at `now`.
void NoteTriggerEnded(DWORD now);

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
// True once FailUpgrade has begun: a transfer still running on another
// thread sends nothing more while the message waits for the user.
bool UpgradeFailing();
