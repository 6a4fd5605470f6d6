// HTTP Digest authentication in the form the device accepts: the RFC 2617
// reference computation of H(A1), H(A2) and the request-digest, a challenge
// reader that takes each quoted parameter wherever it first occurs, and the
// Authorization line with its nine-digit nonce count.
#include "src/web/digest.h"

#include "src/shared/random.h"
#include "src/shared/trace.h"
#include "src/web/md5.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

DigestState digestState;

namespace {

// RFC 2617 section 3.2.2: the method of every request the program sends.
constexpr char kMethod[] = "GET";

void Md5AddText(Md5Context* context, const char* text) {
    Md5Update(context, text, strlen(text));
}

void Md5AddSeparator(Md5Context* context) {
    Md5Update(context, ":", 1);
}

// MD5 of the texts joined by ':'; a null entry ends the list.
void Md5OfJoined(const char* const* parts, uint8_t digest[16]) {
    Md5Context context;
    Md5Init(&context);
    for (int i = 0; parts[i] != nullptr; ++i) {
        if (i > 0) {
            Md5AddSeparator(&context);
        }
        Md5AddText(&context, parts[i]);
    }
    Md5Final(digest, &context);
}

bool EqualsIgnoringCase(const char* left, const char* right) {
    for (; *left != '\0' && *right != '\0'; ++left, ++right) {
        char a = *left >= 'A' && *left <= 'Z' ? char(*left - 'A' + 'a') : *left;
        char b = *right >= 'A' && *right <= 'Z' ? char(*right - 'A' + 'a') : *right;
        if (a != b) {
            return false;
        }
    }
    return *left == *right;
}

// Finds `name` (with its opening quote) anywhere in `text` and copies what
// follows up to the next '"', line break or the end, cut to fit `size` bytes
// with the NUL. A value without its closing quote must not carry the device's
// line breaks into the Authorization line we send back.
bool FindQuotedParameter(const char* text, const char* name, char* field, size_t size) {
    const char* start = strstr(text, name);
    if (start == nullptr) {
        return false;
    }
    start += strlen(name);
    size_t length = 0;
    while (start[length] != '\0' && start[length] != '"' && start[length] != '\r' && start[length] != '\n') {
        ++length;
    }
    if (length > size - 1) {
        length = size - 1;
    }
    memcpy(field, start, length);
    field[length] = '\0';
    return true;
}

// An absent optional parameter leaves its field empty.
void CopyOptionalParameter(const char* text, const char* name, char* field, size_t size) {
    if (!FindQuotedParameter(text, name, field, size)) {
        field[0] = '\0';
    }
}

// Appends printf output at `*used` in `out`, never past `size`; `*used`
// stops at the last byte that fits.
void AppendFormatted(char* out, size_t size, size_t* used, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

void AppendFormatted(char* out, size_t size, size_t* used, const char* format, ...) {
    if (*used + 1 >= size) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    int written = vsnprintf(out + *used, size - *used, format, arguments);
    va_end(arguments);
    if (written < 0) {
        return;
    }
    size_t room = size - *used - 1;
    *used += size_t(written) < room ? size_t(written) : room;
}

}  // namespace

void HexDigest(const uint8_t digest[16], char hex[33]) {
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    hex[32] = '\0';
}

void ComputeSessionKey(const char* algorithm, const char* user, const char* realm, const char* password,
                       const char* nonce, const char* cnonce, char sessionKey[33]) {
    uint8_t digest[16];
    const char* const credentials[] = {user, realm, password, nullptr};
    Md5OfJoined(credentials, digest);
    if (EqualsIgnoringCase(algorithm, "md5-sess")) {
        // RFC 2617 section 3.2.2.2: the raw 16 bytes are hashed here, not their hex form.
        Md5Context context;
        Md5Init(&context);
        Md5Update(&context, digest, sizeof digest);
        Md5AddSeparator(&context);
        Md5AddText(&context, nonce);
        Md5AddSeparator(&context);
        Md5AddText(&context, cnonce);
        Md5Final(digest, &context);
    }
    HexDigest(digest, sessionKey);
}

void ComputeRequestDigest(const char* sessionKey, const char* nonce, const char* nonceCountText, const char* cnonce,
                          const char* qop, const char* method, const char* uri, const char* entityBody,
                          char response[33]) {
    uint8_t digest[16];
    char requestHash[33];
    if (EqualsIgnoringCase(qop, "auth-int")) {
        char bodyHash[33];
        const char* const body[] = {entityBody, nullptr};
        Md5OfJoined(body, digest);
        HexDigest(digest, bodyHash);
        const char* const request[] = {method, uri, bodyHash, nullptr};
        Md5OfJoined(request, digest);
    } else {
        const char* const request[] = {method, uri, nullptr};
        Md5OfJoined(request, digest);
    }
    HexDigest(digest, requestHash);

    if (qop[0] != '\0') {
        const char* const parts[] = {sessionKey, nonce, nonceCountText, cnonce, qop, requestHash, nullptr};
        Md5OfJoined(parts, digest);
    } else {
        const char* const parts[] = {sessionKey, nonce, requestHash, nullptr};
        Md5OfJoined(parts, digest);
    }
    HexDigest(digest, response);
}

bool ParseChallenge(const char* text, DigestState* state) {
    if (!FindQuotedParameter(text, "realm=\"", state->realm, sizeof state->realm)) {
        return false;
    }
    if (!FindQuotedParameter(text, "nonce=\"", state->nonce, sizeof state->nonce)) {
        return false;
    }
    // A nonce unlike the last new one starts the count again; the runner
    // reads the 0 as "the device changed its nonce".
    if (strcmp(state->nonce, state->previousNonce) != 0) {
        memcpy(state->previousNonce, state->nonce, sizeof state->previousNonce);
        state->nonceCount = 0;
        Trace("New nonce %s\n", state->nonce);
    }
    snprintf(state->cnonce, sizeof state->cnonce, "%x", unsigned(NextRandom()));
    CopyOptionalParameter(text, "algorithm=\"", state->algorithm, sizeof state->algorithm);
    CopyOptionalParameter(text, "qop=\"", state->qop, sizeof state->qop);
    CopyOptionalParameter(text, "opaque=\"", state->opaque, sizeof state->opaque);
    return true;
}

int ComposeAuthorization(const DigestState* state, char* out, size_t size) {
    // The device counts in nine hexadecimal digits, not RFC 2617's eight,
    // in the header and in the hash alike.
    char nonceCountText[16] = "";
    if (state->qop[0] != '\0') {
        snprintf(nonceCountText, sizeof nonceCountText, "%09x", unsigned(state->nonceCount));
    }
    char sessionKey[33];
    char response[33];
    ComputeSessionKey(state->algorithm, state->user, state->realm, state->password, state->nonce, state->cnonce,
                      sessionKey);
    ComputeRequestDigest(sessionKey, state->nonce, nonceCountText, state->cnonce, state->qop, kMethod, state->uri, "",
                         response);

    size_t used = 0;
    if (size > 0) {
        out[0] = '\0';
    }
    AppendFormatted(out, size, &used,
                    "Authorization: Digest username=\"%s\",realm=\"%s\",nonce=\"%s\",uri=\"%s\",algorithm=\"%s\","
                    "response=\"%s\"",
                    state->user, state->realm, state->nonce, state->uri, state->algorithm, response);
    if (state->opaque[0] != '\0') {
        AppendFormatted(out, size, &used, ",opaque=\"%s\"", state->opaque);
    }
    if (state->qop[0] != '\0') {
        AppendFormatted(out, size, &used, ",qop=%s,nc=%s,cnonce=\"%s\"", state->qop, nonceCountText, state->cnonce);
    }
    AppendFormatted(out, size, &used, "\r\n");
    return int(used);
}
