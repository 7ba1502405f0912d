// The console program from command line to exit code.
#pragma once

namespace quill {

// 0: every input processed to its end; 2: at least one input failed (not opened, no unit size,
// a failed write); 1: stopped early (usage text, descrambler, no read buffer).
int run_program(int argc, const char* const* argv);

void write_usage();

}  // namespace quill
