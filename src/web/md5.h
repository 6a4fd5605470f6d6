// MD5 message digest (RFC 1321).
#pragma once

#include <cstddef>
#include <cstdint>

struct Md5Context {
    uint32_t state[4];
    uint32_t count[2];  // bit count, low word first
    uint8_t buffer[64];
};

void Md5Init(Md5Context* context);
void Md5Update(Md5Context* context, const void* data, size_t length);
// Writes the 16-byte digest and wipes the context.
void Md5Final(uint8_t digest[16], Md5Context* context);
