// Fuzz target: whatever the device answers, ClassifyResponse and
// ParseChallenge stay inside the text and inside every DigestState field,
// and the Authorization line built from the result fits its buffer.
#include "src/web/digest.h"
#include "src/web/http_exchange.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Kept across inputs, so that a nonce may repeat the previous one.
DigestState persistent;

void CheckTerminated(const char* field, size_t size) {
    if (memchr(field, '\0', size) == nullptr) {
        abort();
    }
}

void CheckState(const DigestState& state) {
    CheckTerminated(state.previousNonce, sizeof state.previousNonce);
    CheckTerminated(state.nonce, sizeof state.nonce);
    CheckTerminated(state.cnonce, sizeof state.cnonce);
    CheckTerminated(state.realm, sizeof state.realm);
    CheckTerminated(state.qop, sizeof state.qop);
    CheckTerminated(state.algorithm, sizeof state.algorithm);
    CheckTerminated(state.opaque, sizeof state.opaque);
}

void ComposeAndCheck(DigestState* state) {
    strcpy(state->user, "admin");
    strcpy(state->password, "pw");
    strcpy(state->uri, "/admin/advanced");
    ++state->nonceCount;
    char line[2048];
    int length = ComposeAuthorization(state, line, sizeof line);
    if (length < 0 || size_t(length) >= sizeof line || strlen(line) != size_t(length)) {
        abort();
    }
    // A short buffer is cut, never overrun.
    char small[64];
    length = ComposeAuthorization(state, small, sizeof small);
    if (size_t(length) >= sizeof small || strlen(small) != size_t(length)) {
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks whether the rest is a whole answer or the
    // challenge text behind a 401 status line, which reaches the parser at once.
    if (size == 0) {
        return 0;
    }
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1) {
        text = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest " + text;
    }
    if (ClassifyResponse(text.c_str(), &persistent)) {
        ComposeAndCheck(&persistent);
    }
    CheckState(persistent);

    DigestState fresh;
    memset(&fresh, 0, sizeof fresh);
    if (ParseChallenge(text.c_str(), &fresh)) {
        ComposeAndCheck(&fresh);
    }
    CheckState(fresh);
    return 0;
}
