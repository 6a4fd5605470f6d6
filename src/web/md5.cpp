// MD5 message digest, written from RFC 1321 (section 3 and the reference
// implementation of its appendix).
#include "src/web/md5.h"

#include <cstring>

namespace {

// Per-round shift amounts, RFC 1321 section 3.4.
constexpr int kShifts[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

// T[i] = floor(2^32 * abs(sin(i + 1))), RFC 1321 section 3.4.
constexpr uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

uint32_t RotateLeft(uint32_t value, int count) {
    return (value << count) | (value >> (32 - count));
}

uint32_t LoadLittleEndian(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | (uint32_t(bytes[1]) << 8) | (uint32_t(bytes[2]) << 16) | (uint32_t(bytes[3]) << 24);
}

void StoreLittleEndian(uint32_t value, uint8_t* bytes) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = uint8_t(value >> (8 * i));
    }
}

// The four rounds of section 3.4 over one 64-byte block.
void TransformBlock(uint32_t state[4], const uint8_t block[64]) {
    uint32_t words[16];
    for (int i = 0; i < 16; ++i) {
        words[i] = LoadLittleEndian(block + 4 * i);
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int step = 0; step < 64; ++step) {
        int round = step / 16;
        uint32_t mixed;
        int wordIndex;
        if (round == 0) {
            mixed = (b & c) | (~b & d);
            wordIndex = step;
        } else if (round == 1) {
            mixed = (b & d) | (c & ~d);
            wordIndex = (5 * step + 1) % 16;
        } else if (round == 2) {
            mixed = b ^ c ^ d;
            wordIndex = (3 * step + 5) % 16;
        } else {
            mixed = c ^ (b | ~d);
            wordIndex = (7 * step) % 16;
        }
        uint32_t rotated = b + RotateLeft(a + mixed + words[wordIndex] + kSines[step], kShifts[round][step % 4]);
        a = d;
        d = c;
        c = b;
        b = rotated;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void Md5Init(Md5Context* context) {
    context->count[0] = 0;
    context->count[1] = 0;
    // Section 3.3: the initial buffer A, B, C, D.
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
}

void Md5Update(Md5Context* context, const void* data, size_t length) {
    const uint8_t* input = static_cast<const uint8_t*>(data);
    size_t used = (context->count[0] >> 3) & 0x3F;
    uint64_t bits = (uint64_t(context->count[1]) << 32 | context->count[0]) + uint64_t(length) * 8;
    context->count[0] = uint32_t(bits);
    context->count[1] = uint32_t(bits >> 32);

    while (length > 0) {
        size_t take = 64 - used;
        if (take > length) {
            take = length;
        }
        memcpy(context->buffer + used, input, take);
        used += take;
        input += take;
        length -= take;
        if (used == 64) {
            TransformBlock(context->state, context->buffer);
            used = 0;
        }
    }
}

void Md5Final(uint8_t digest[16], Md5Context* context) {
    // Section 3.1 and 3.2: a 1 bit, zeros up to 56 bytes mod 64, then the
    // length in bits, low word first.
    uint8_t lengthBytes[8];
    StoreLittleEndian(context->count[0], lengthBytes);
    StoreLittleEndian(context->count[1], lengthBytes + 4);
    size_t used = (context->count[0] >> 3) & 0x3F;
    size_t padding = used < 56 ? 56 - used : 120 - used;
    static const uint8_t kPadding[64] = {0x80};
    Md5Update(context, kPadding, padding);
    Md5Update(context, lengthBytes, 8);
    for (int i = 0; i < 4; ++i) {
        StoreLittleEndian(context->state[i], digest + 4 * i);
    }
    memset(context, 0, sizeof *context);
}
