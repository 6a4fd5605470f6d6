// HTTP Digest authentication (RFC 2617) as the device expects it: bytes in,
// bytes out, no sockets.
#pragma once

#include <cstddef>
#include <cstdint>

// The authentication state kept between requests. Requests never overlap:
// the request worker of an attempt writes the challenge's fields and the
// count; the thread that runs the request (main thread, or the listener
// thread after a restart) reads them, and writes the credentials, only
// while no worker runs, between attempts.
struct DigestState {
    uint32_t nonceCount;      // worker: 0 on a new nonce (challenge), +1 per request with credentials
    char previousNonce[128];  // worker, challenge: the last new nonce
    char nonce[128];          // worker, challenge
    char cnonce[128];         // worker, challenge: a fresh client nonce each time
    char user[128];           // requesting thread, password dialog
    char password[128];       // requesting thread, password dialog; empty: send no Authorization line
    char realm[128];          // worker, challenge
    char qop[16];             // worker, challenge (empty when absent)
    char algorithm[16];       // worker, challenge (empty when absent)
    char uri[128];            // worker, each request with credentials: the path as sent
    char opaque[128];         // worker, challenge (empty when absent)
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
