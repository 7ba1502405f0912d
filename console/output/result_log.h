// The result report of an input file (-LOG, -LOGFILE): for every output file of a slot its per-PID
// counts and its size, on the console and, with -LOGFILE, in the summary log and the tsselect log
// that the job created empty at its start.
#pragma once
#include <string>

namespace quill {

struct RunState;
struct OutputStream;

// Reports every file of the slot, in the order the files were first opened. Called once per slot
// at the end of the input, after the slot's files were finished and closed.
void report_slot_statistics(RunState& run, OutputStream& slot);

// Creates or empties a log at the start of a job; a log that would be the recording itself is
// left alone, and a failure is ignored.
void start_log(const RunState& run, const std::string& path);

// A byte count as whole KiB in decimal, grouped by commas in threes from the right ("1,234").
std::string size_in_kb(long long bytes);

}  // namespace quill
