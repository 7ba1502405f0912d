// Per-PID statistics of every output file (-LOG, -LOGFILE). Nothing here runs, and no memory is
// taken, unless statistics were asked for.
#pragma once
#include <cstdint>

namespace quill {

struct RunState;
struct OutputStream;

// A file was opened for the slot: its counts start (or continue, for a path seen before).
void stats_register_file(RunState& run, OutputStream& slot, int fd);
// One packet written to the file behind `fd`.
void stats_count_packet(RunState& run, OutputStream& slot, int fd, const std::uint8_t* packet);
// Discards the statistics slots of the record (pass restart).
void stats_discard(OutputStream& slot);

}  // namespace quill
