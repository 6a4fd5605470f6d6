// Trace points go to the platform's debug output, one call a line.
#include "src/control/trace.h"

#include "platform/win.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Wine's debug channel shows at most about 300 characters of one call.
constexpr size_t kTracePiece = 240;

}  // namespace

void Trace(const char* format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    OutputDebugStringA(line);
}

void TraceText(const char* text) {
    size_t total = strlen(text);
    bool ended = total == 0 || text[total - 1] == '\n';
    char piece[kTracePiece + 1];
    while (*text != '\0') {
        const char* lineEnd = strchr(text, '\n');
        size_t length = lineEnd != nullptr ? size_t(lineEnd - text) + 1 : strlen(text);
        if (length > kTracePiece) {
            length = kTracePiece;
        }
        memcpy(piece, text, length);
        piece[length] = '\0';
        OutputDebugStringA(piece);
        text += length;
    }
    // An answer need not end with a line break; the next trace starts a line.
    if (!ended) {
        OutputDebugStringA("\n");
    }
}
