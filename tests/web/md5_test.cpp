// MD5 against the test suite of RFC 1321 (appendix A.5) and against
// OpenSSL's MD5 on random inputs fed in random pieces.
#include "src/web/digest.h"
#include "src/web/md5.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Md5Hex(const void* data, size_t length) {
    Md5Context context;
    Md5Init(&context);
    Md5Update(&context, data, length);
    uint8_t digest[16];
    Md5Final(digest, &context);
    char hex[33];
    HexDigest(digest, hex);
    return hex;
}

std::string Md5Hex(const std::string& text) {
    return Md5Hex(text.data(), text.size());
}

std::string OpenSslMd5Hex(const std::vector<uint8_t>& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(1, EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr));
    EXPECT_EQ(16u, length);
    char hex[33];
    HexDigest(digest, hex);
    return hex;
}

TEST(Md5, Rfc1321TestSuite) {
    EXPECT_EQ("d41d8cd98f00b204e9800998ecf8427e", Md5Hex(""));
    EXPECT_EQ("0cc175b9c0f1b6a831c399e269772661", Md5Hex("a"));
    EXPECT_EQ("900150983cd24fb0d6963f7d28e17f72", Md5Hex("abc"));
    EXPECT_EQ("f96b697d7cb7938d525a2f31aaf161d0", Md5Hex("message digest"));
    EXPECT_EQ("c3fcd3d76192e4007dfb496cca67e13b", Md5Hex("abcdefghijklmnopqrstuvwxyz"));
    EXPECT_EQ("d174ab98d277d9f5a5611c2c9f419d9f",
              Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
    EXPECT_EQ("57edf4a22be3c955ac49da2e2107b67a",
              Md5Hex("12345678901234567890123456789012345678901234567890123456789012345678901234567890"));
}

TEST(Md5, MatchesOpenSslOnRandomInputsInRandomPieces) {
    std::mt19937 random(20240611);
    // The padding boundaries first, then random lengths up to a few blocks.
    std::vector<size_t> lengths = {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 127, 128, 129, 4096};
    for (int i = 0; i < 400; ++i) {
        lengths.push_back(random() % 1500);
    }
    for (size_t length : lengths) {
        std::vector<uint8_t> data(length);
        for (uint8_t& byte : data) {
            byte = uint8_t(random());
        }
        Md5Context context;
        Md5Init(&context);
        for (size_t done = 0; done < length;) {
            size_t piece = std::min<size_t>(length - done, random() % 100);
            Md5Update(&context, data.data() + done, piece);
            done += piece;
        }
        uint8_t digest[16];
        Md5Final(digest, &context);
        char hex[33];
        HexDigest(digest, hex);
        ASSERT_EQ(OpenSslMd5Hex(data), hex) << "length " << length;
        ASSERT_EQ(OpenSslMd5Hex(data), Md5Hex(data.data(), data.size())) << "length " << length;
    }
}

TEST(Md5, FinishWipesTheComputation) {
    Md5Context context;
    Md5Init(&context);
    Md5Update(&context, "secret", 6);
    uint8_t digest[16];
    Md5Final(digest, &context);
    Md5Context zero;
    memset(&zero, 0, sizeof zero);
    EXPECT_EQ(0, memcmp(&context, &zero, sizeof zero));
}

TEST(Md5, HexDigestIsLowercaseHighNibbleFirst) {
    const uint8_t digest[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                0xf0, 0x0f, 0x10, 0xa0, 0x00, 0xff, 0x9c, 0x5e};
    char hex[34];
    memset(hex, 'Z', sizeof hex);
    HexDigest(digest, hex);
    EXPECT_STREQ("0123456789abcdeff00f10a000ff9c5e", hex);
    EXPECT_EQ('Z', hex[33]);
}

}  // namespace
