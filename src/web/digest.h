// HTTP Digest authentication (RFC 2617) as the device expects it: bytes in,
// bytes out, no sockets.
#pragma once

#include <cstddef>
#include <cstdint>

struct DigestState {
    uint32_t nonceCount;
    char previousNonce[128];
    char nonce[128];
    char cnonce[128];
    char user[128];
    char password[128];
    char realm[128];
    char qop[16];
    char algorithm[16];
    char uri[128];
    char opaque[128];
};

extern DigestState digestState;

// 32 lowercase hexadecimal characters and a NUL.
void HexDigest(const uint8_t digest[16], char hex[33]);
void ComputeSessionKey(const char* algorithm, const char* user, const char* realm, const char* password,
                       const char* nonce, const char* cnonce, char sessionKey[33]);
void ComputeRequestDigest(const char* sessionKey, const char* nonce, const char* nonceCountText, const char* cnonce,
                          const char* qop, const char* method, const char* uri, const char* entityBody,
                          char response[33]);
// `text` runs from "WWW-Authenticate:" to the end of the answer.
bool ParseChallenge(const char* text, DigestState* state);
// Writes the whole Authorization line with its "\r\n" into `out` (at most
// `size` bytes with the NUL) and returns its length.
int ComposeAuthorization(const DigestState* state, char* out, size_t size);
