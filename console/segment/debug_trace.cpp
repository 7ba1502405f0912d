#include "debug_trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "console.h"

namespace quill {

bool debug_trace_enabled() {
    static const bool enabled = std::getenv("QUILLODINE_TRACE") != nullptr;
    return enabled;
}

void debug_trace(const char* format, ...) {
    if (!debug_trace_enabled()) return;
    va_list args;
    va_start(args, format);
    console_vprintf(stderr, format, args);
    va_end(args);
}

}  // namespace quill
