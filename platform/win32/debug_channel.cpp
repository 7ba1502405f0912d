#include "debug_channel.h"

#include <cstring>
#include <string>
#include <windows.h>

#include "console.h"

namespace quill {

bool debug_channel_watched() { return IsDebuggerPresent() != 0; }

void debug_channel_write(const char* utf8) {
    // The channel takes one ANSI string per call.
    const std::string converted = to_console_text(utf8, std::strlen(utf8));
    OutputDebugStringA(converted.c_str());
}

}  // namespace quill
