// Formatted console lines, the same on every system: format into a stack buffer (a heap one only
// for lines longer than 2 KiB), then hand the UTF-8 text to the system's console_write.
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "console.h"

namespace quill {

void console_vprintf(std::FILE* stream, const char* format, va_list args) {
    char small[2048];
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < sizeof small) {
        console_write(stream, small);
        return;
    }
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    console_write(stream, big.data());
}

void console_printf(std::FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    console_vprintf(stream, format, args);
    va_end(args);
}

}  // namespace quill
