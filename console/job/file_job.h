// One input file from opening to closing: passes over the file, the read loop, the end of the
// input and the finishing of every output.
#pragma once
#include <string>

namespace quill {

struct RunState;

// Returns false when the input could not be processed to its end (not opened, no unit size,
// a failed write); the caller goes on with the next input either way.
bool run_file_job(RunState& run, const std::string& source_path, bool path_too_long);

}  // namespace quill
