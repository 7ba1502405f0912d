#include "segment/debug_trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "platform/console.h"

#ifdef _WIN32
#include <string>
#include <vector>
#include <windows.h>
#endif

namespace quill {

bool debug_trace_enabled() {
#ifdef _WIN32
    static const bool enabled = std::getenv("QUILLODINE_TRACE") != nullptr || IsDebuggerPresent() != 0;
#else
    static const bool enabled = std::getenv("QUILLODINE_TRACE") != nullptr;
#endif
    return enabled;
}

void debug_trace(const char* format, ...) {
    if (!debug_trace_enabled()) return;
    va_list args;
    va_start(args, format);
#ifdef _WIN32
    // The debugger channel takes one ANSI string per call: format it whole, convert it like every
    // console text, and hand it over.
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n >= 0) {
        std::vector<char> big;
        const char* text = small;
        if (static_cast<std::size_t>(n) >= sizeof small) {
            big.resize(static_cast<std::size_t>(n) + 1);
            std::vsnprintf(big.data(), big.size(), format, args);
            text = big.data();
        }
        const std::string converted = to_console_text(text, static_cast<std::size_t>(n));
        OutputDebugStringA(converted.c_str());
    }
#else
    console_vprintf(stderr, format, args);
#endif
    va_end(args);
}

}  // namespace quill
