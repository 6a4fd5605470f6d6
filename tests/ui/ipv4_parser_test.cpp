// The IPv4 text parser: its codes, the order of its checks, and the file names.
#include "src/shared/random.h"
#include "src/ui/address_dialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Parsed {
    int code;
    uint32_t address;
};

Parsed Parse(const char* text) {
    Parsed parsed{-1, 0xabad1dea};
    parsed.code = ParseIpv4Address(text, &parsed.address);
    return parsed;
}

void ExpectAddress(const char* text, uint32_t address) {
    Parsed parsed = Parse(text);
    EXPECT_EQ(parsed.code, kIpv4Ok) << text;
    EXPECT_EQ(parsed.address, address) << text;
}

void ExpectRefused(const char* text, int code) {
    Parsed parsed = Parse(text);
    EXPECT_EQ(parsed.code, code) << text;
    EXPECT_EQ(parsed.address, 0u) << text;
}

}  // namespace

TEST(Ipv4Parser, AcceptsDottedAndStarredAddresses) {
    ExpectAddress("10.1.0.13", 0x0a01000d);
    ExpectAddress("255.255.255.255", 0xffffffff);
    ExpectAddress("10*1*0*13", 0x0a01000d);
    ExpectAddress("001.002.003.004", 0x01020304);
    ExpectAddress("0.0.0.0", 0);
}

TEST(Ipv4Parser, EmptyFieldsVanish) {
    ExpectAddress("1..2.3.4", 0x01020304);
    ExpectAddress(".1.2.3.4", 0x01020304);
    ExpectAddress("1.2.3.4.", 0x01020304);
    ExpectAddress("1.*2.3*.4", 0x01020304);
}

TEST(Ipv4Parser, LengthIsCheckedBeforeCharacters) {
    ExpectRefused("1.2.3", kIpv4BadLength);
    ExpectRefused("1.2.a", kIpv4BadLength);
    ExpectRefused("1234567890123456", kIpv4BadLength);
    ExpectRefused("", kIpv4BadLength);
    ExpectRefused("1.2.3.a", kIpv4BadCharacter);
    ExpectRefused(" 1.2.3.4", kIpv4BadCharacter);
    ExpectRefused("1.2.3.4 ", kIpv4BadCharacter);
    ExpectRefused("1.2.3.\xb4", kIpv4BadCharacter);
}

TEST(Ipv4Parser, FieldCountIsCheckedBeforeRange) {
    ExpectRefused("1.2.3.0.0", kIpv4TooManyFields);
    ExpectRefused("1.2.3.4.999", kIpv4TooManyFields);
    ExpectRefused("1.2.999.4", kIpv4FieldRange);
    ExpectRefused("256.1.1.1", kIpv4FieldRange);
    ExpectRefused(".......", kIpv4TooFewFields);
    ExpectRefused("1.2.3..", kIpv4TooFewFields);
}

TEST(Ipv4Parser, FieldsWrapAsSignedThirtyTwoBitNumbers) {
    // 4294967296 wraps to 0 and is accepted; only three fields follow.
    ExpectRefused("4294967296.1.1", kIpv4TooFewFields);
    // 2147483648 wraps below zero.
    ExpectRefused("2147483648.1.1", kIpv4FieldRange);
}

TEST(FileNames, CarryARandomHexNumberAndTheStageDigit) {
    SeedRandom(1);
    char name[128];
    MakeFileName(name, sizeof name, 0);
    EXPECT_STREQ(name, "/qor29.bi0");  // 41
    MakeFileName(name, sizeof name, 1);
    EXPECT_STREQ(name, "/qor4823.bi1");  // 18467
    for (int i = 0; i < 2000; ++i) {
        MakeFileName(name, sizeof name, 0);
        ASSERT_LE(strlen(name), 12u);
        ASSERT_EQ(strncmp(name, "/qor", 4), 0);
        ASSERT_EQ(std::string(name).substr(strlen(name) - 4), ".bi0");
    }
}

TEST(FormatIpv4, MostSignificantByteFirst) {
    char text[16];
    FormatIpv4(text, sizeof text, 0xc0000214);
    EXPECT_STREQ(text, "192.0.2.20");
    FormatIpv4(text, sizeof text, 0xffffffff);
    EXPECT_STREQ(text, "255.255.255.255");
}
