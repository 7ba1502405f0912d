// One input file from opening to closing: passes over the file, the read loop, the end of the
// input and the finishing of every output.
#pragma once
#include <cstdint>
#include <string>

namespace quill {

struct JobContext;
struct InputEntry;

// The standard input's other name, and the name its outputs get (stdin_HD.ts ...).
inline constexpr const char* kStandardInputPath = "/dev/stdin";
inline constexpr const char* kStandardInputName = "stdin";
inline constexpr const char* kStandardInputExt = ".ts";

// Returns false when the input could not be processed to its end (not opened, no unit size,
// a failed write, a failed spool); the caller goes on with the next input either way.
bool run_file_job(JobContext& ctx, const InputEntry& input);

// The audio split confirms a change by reading ahead: the bytes from the current packet to the end
// of the valid ones move to the start of the read buffer, which is then filled up to 4 MiB from the
// input (descrambled like every chunk). Returns the current packet's new place, the buffer start.
std::uint8_t* read_ahead(JobContext& ctx);

}  // namespace quill
