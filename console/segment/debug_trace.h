// Development trace lines (audio switches, GOP positions around a cut). They never reach standard
// output, whose lines the front end reads, and they are off unless asked for:
// - on Windows they go to the debugger channel (OutputDebugStringA, in the console code page),
//   written when a debugger is attached at start or the environment variable QUILLODINE_TRACE is
//   set (a debug-output viewer without a debugger needs the variable);
// - elsewhere they go to standard error when QUILLODINE_TRACE is set at start.
#pragma once

namespace quill {

bool debug_trace_enabled();
void debug_trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quill
