// Packet layouts, byte for byte.
#include "src/tftp/packets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(U16BE, StoresHighByteFirstAndDropsHigherBits) {
    uint8_t bytes[2] = {0, 0};
    PutU16BE(bytes, 0x1234);
    EXPECT_EQ(bytes[0], 0x12);
    EXPECT_EQ(bytes[1], 0x34);
    PutU16BE(bytes, 0x12345u | 0xff0000u);
    EXPECT_EQ(bytes[0], 0x23);
    EXPECT_EQ(bytes[1], 0x45);
}

TEST(U16BE, LoadsBytesAsUnsigned) {
    const uint8_t high[2] = {0xff, 0xfe};
    EXPECT_EQ(GetU16BE(high), 65534);
    const uint8_t ack[2] = {0x00, 0x04};
    EXPECT_EQ(GetU16BE(ack), 4);
    uint8_t roundTrip[2];
    for (uint32_t value : {0u, 1u, 255u, 256u, 1441u, 65535u}) {
        PutU16BE(roundTrip, value);
        EXPECT_EQ(GetU16BE(roundTrip), value);
    }
}

TEST(Oack, CarriesTsizeAndTimeoutOnly) {
    uint8_t packet[kTftpPacketSize];
    size_t length = BuildOack(packet, 737532);
    ASSERT_EQ(length, 25u);
    const char expected[] =
        "\0\6tsize\0"
        "737532\0timeout\0"
        "5";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(packet), length), std::string(expected, sizeof expected));
}

TEST(Oack, LengthFollowsTheDigitCount) {
    uint8_t packet[kTftpPacketSize];
    EXPECT_EQ(BuildOack(packet, 0), 20u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(packet) + 8), "0");
    EXPECT_EQ(BuildOack(packet, 4294967295u), 29u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(packet) + 8), "4294967295");
}

TEST(DataBlock, HeaderAndPayload) {
    uint8_t image[600];
    for (size_t i = 0; i < sizeof image; ++i) {
        image[i] = static_cast<uint8_t>(i * 7);
    }
    uint8_t packet[kTftpPacketSize];
    ASSERT_EQ(BuildDataBlock(packet, image, 512, 1441), 516u);
    EXPECT_EQ(GetU16BE(packet), kTftpData);
    EXPECT_EQ(GetU16BE(packet + 2), 1441);
    EXPECT_EQ(std::memcmp(packet + 4, image, 512), 0);

    ASSERT_EQ(BuildDataBlock(packet, image + 512, 88, 70000), 92u);
    EXPECT_EQ(GetU16BE(packet + 2), 70000 & 0xffff);
    EXPECT_EQ(std::memcmp(packet + 4, image + 512, 88), 0);
}

TEST(DataBlock, EmptyBlockIsFourBytes) {
    uint8_t packet[kTftpPacketSize];
    std::memset(packet, 0xee, sizeof packet);
    EXPECT_EQ(BuildDataBlock(packet, nullptr, 0, 1), 4u);
    EXPECT_EQ(GetU16BE(packet), kTftpData);
    EXPECT_EQ(GetU16BE(packet + 2), 1);
}

}  // namespace
