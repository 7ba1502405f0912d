#include "segment/debug_trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/debug_channel.h"

namespace quill {

bool debug_trace_enabled() {
    static const bool enabled = std::getenv("QUILLODINE_TRACE") != nullptr || debug_channel_watched();
    return enabled;
}

void debug_trace(const char* format, ...) {
    if (!debug_trace_enabled()) return;
    // The channel takes each line whole: format it first (on the heap only when it is long).
    va_list args;
    va_start(args, format);
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n >= 0) {
        if (static_cast<std::size_t>(n) < sizeof small) {
            debug_channel_write(small);
        } else {
            std::vector<char> big(static_cast<std::size_t>(n) + 1);
            std::vsnprintf(big.data(), big.size(), format, args);
            debug_channel_write(big.data());
        }
    }
    va_end(args);
}

}  // namespace quill
