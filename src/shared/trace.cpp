// Trace points go to the platform's debug output, one call a line, save the
// batched lines of a transfer.
#include "src/shared/trace.h"

#include "platform/win.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// Wine's debug channel shows at most about 300 characters of one call.
constexpr size_t kTracePiece = 240;

// Batched lines not yet handed over; any thread's trace flushes them first,
// so the output keeps the order of the calls.
std::mutex batchLock;
char batch[kTracePiece + 1];
size_t batchLength = 0;

void FlushBatchLocked() {
    if (batchLength > 0) {
        OutputDebugStringA(batch);
        batchLength = 0;
    }
}

}  // namespace

void Trace(const char* format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    std::lock_guard<std::mutex> hold(batchLock);
    FlushBatchLocked();
    OutputDebugStringA(line);
}

void TraceBatched(const char* format, ...) {
    char line[kTracePiece + 1];
    va_list arguments;
    va_start(arguments, format);
    int formatted = std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    size_t length = formatted < 0 ? 0 : std::min(size_t(formatted), kTracePiece);
    std::lock_guard<std::mutex> hold(batchLock);
    if (batchLength + length > kTracePiece) {
        FlushBatchLocked();
    }
    memcpy(batch + batchLength, line, length + 1);
    batchLength += length;
}

void FlushTrace() {
    std::lock_guard<std::mutex> hold(batchLock);
    FlushBatchLocked();
}

void TraceText(const char* text) {
    FlushTrace();
    const char* end = text + strlen(text);
    bool ended = end == text || end[-1] == '\n';
    char piece[kTracePiece + 1];
    while (text != end) {
        const char* lineEnd = strchr(text, '\n');
        size_t length = lineEnd != nullptr ? size_t(lineEnd - text) + 1 : size_t(end - text);
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
