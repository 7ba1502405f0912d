// Development trace lines (audio switches, GOP positions around a cut). They are off unless the
// environment variable QUILLODINE_TRACE is set when the program starts; they then go to standard
// error, never to standard output, whose lines the front end reads.
#pragma once

namespace quill {

bool debug_trace_enabled();
void debug_trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quill
