// The channel development trace lines go to: standard error on POSIX systems; on Windows the
// debugger channel (OutputDebugStringA), which a debugger or a debug-output viewer shows and no
// stream does, so the front end reading the program's output never sees them.
#pragma once

namespace quill {

// True when a debugger that shows the channel is attached (Windows). On POSIX systems the channel
// is standard error, which no debugger collects: always false.
bool debug_channel_watched();

// Writes zero-terminated UTF-8 text to the channel in one piece, converted to the console encoding
// like every console text.
void debug_channel_write(const char* utf8);

}  // namespace quill
