// TFTP packet layouts (RFC 1350, option acknowledgement of RFC 2347 with
// tsize and timeout of RFC 2349): bytes in, bytes out, no sockets.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kTftpPacketSize = 1024;
constexpr uint32_t kTftpBlockSize = 512;
constexpr uint16_t kTftpRrq = 1;
constexpr uint16_t kTftpWrq = 2;
constexpr uint16_t kTftpData = 3;
constexpr uint16_t kTftpAck = 4;
constexpr uint16_t kTftpError = 5;
constexpr uint16_t kTftpOack = 6;

void PutU16BE(uint8_t* bytes, uint32_t value);
uint16_t GetU16BE(const uint8_t* bytes);

// Builds the option acknowledgement for `imageSize`; returns its length.
size_t BuildOack(uint8_t* packet, uint32_t imageSize);
// Builds DATA block `block`; returns its length (payload + 4).
size_t BuildDataBlock(uint8_t* packet, const uint8_t* payload, uint32_t payloadSize, uint32_t block);
