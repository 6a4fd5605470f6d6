// One HTTP/1.1 GET request to the device's web server, read until it closes.
#pragma once

#include "platform/win.h"
#include "src/shared/upgrade_state.h"
#include "src/web/digest.h"

#include <cstdint>

constexpr uint16_t kHttpLocalPortBase = 23456;
constexpr int kHttpLocalPortTries = 101;
constexpr uint16_t kDevicePort = 80;
constexpr char kSoftwareVersionLabel[] = "Software Version:";

// -1: a Digest challenge, now in digestState. Otherwise the answer's byte count.
int ExchangeWithDevice(uint32_t localAddress, uint16_t localPortBase, uint32_t deviceAddress, uint16_t devicePort,
                       const char* path, char* buffer, uint32_t capacity);
// A connected socket, or INVALID_SOCKET when the connect failed.
SOCKET OpenDeviceConnection(uint32_t localAddress, uint16_t localPortBase, uint32_t deviceAddress, uint16_t devicePort);
bool ClassifyResponse(const char* text, DigestState* state);
// Only an answer with the version label is the device's own page: a device
// still booting, a login page or junk at its address is not.
bool IsDevicePage(const char* answer);
void ExtractPageField(const char* text, const char* label, char* field, int limit);
