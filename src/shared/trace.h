// Trace points: short printf-style lines for a bug report, sent to the
// platform's debug output (a debug-output viewer on Windows, WINEDEBUG=+debugstr
// under Wine). Nothing depends on them; they never carry a password.
#pragma once

#if defined(__GNUC__)
#define QOR_PRINTF_FORMAT(formatIndex, firstArgument) __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define QOR_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

// Formats one trace line (cut at 1023 characters) and hands it to OutputDebugStringA.
void Trace(const char* format, ...) QOR_PRINTF_FORMAT(1, 2);

// For lines that come hundreds a second (a transfer's blocks): they are
// gathered and handed over several to a call, in pieces a viewer shows whole,
// because each call costs tens of microseconds under Wine even with nobody
// listening. Gathered lines go out before any other trace line, at
// FlushTrace, and before the process ends with a message.
void TraceBatched(const char* format, ...) QOR_PRINTF_FORMAT(1, 2);
void FlushTrace();

// Hands a long text (a request, a device's answer) to the debug output line by
// line, in pieces short enough for a viewer to show whole, and ends it with a
// line break if it has none.
void TraceText(const char* text);
