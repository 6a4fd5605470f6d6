// Trace points go to the platform's debug output, one call a line.
#include "src/control/trace.h"

#include "platform/win.h"

#include <cstdarg>
#include <cstdio>

void Trace(const char* format, ...) {
    char line[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    OutputDebugStringA(line);
}
