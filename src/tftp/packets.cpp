// TFTP packets as bytes: the option acknowledgement, DATA blocks and the
// 16-bit big-endian fields.
#include "src/tftp/packets.h"

#include <cstdio>
#include <cstring>

void PutU16BE(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>((value >> 8) & 0xff);
    bytes[1] = static_cast<uint8_t>(value & 0xff);
}

uint16_t GetU16BE(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] * 256 + bytes[1]);
}

// RFC 2347 option acknowledgement with the RFC 2349 options tsize and timeout;
// the timeout is only announced, the session keeps its own retransmission pace.
size_t BuildOack(uint8_t* packet, uint32_t imageSize) {
    static const char kTsize[] = "tsize";
    static const char kTimeout[] =
        "timeout\0"
        "5";
    PutU16BE(packet, kTftpOack);
    size_t length = 2;
    std::memcpy(packet + length, kTsize, sizeof kTsize);
    length += sizeof kTsize;
    char digits[16];
    int digitCount = std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(imageSize));
    std::memcpy(packet + length, digits, static_cast<size_t>(digitCount) + 1);
    length += static_cast<size_t>(digitCount) + 1;
    std::memcpy(packet + length, kTimeout, sizeof kTimeout);
    length += sizeof kTimeout;
    return length;
}

size_t BuildDataBlock(uint8_t* packet, const uint8_t* payload, uint32_t payloadSize, uint32_t block) {
    if (payloadSize > kTftpBlockSize) {
        payloadSize = kTftpBlockSize;
    }
    PutU16BE(packet, kTftpData);
    PutU16BE(packet + 2, block);
    if (payloadSize > 0) {
        std::memcpy(packet + 4, payload, payloadSize);
    }
    return payloadSize + 4;
}
