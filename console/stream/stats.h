// Per-PID statistics of every output file (-LOG, -LOGFILE): packets, continuity drops, scrambled
// packets and transport errors, kept per distinct output path of each slot and reported at the end
// of the input. Nothing here runs, and no memory is taken, unless statistics were asked for.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "state/statistics.h"

namespace quill {

struct RunState;
struct OutputStream;

// --- One slot's statistics ---------------------------------------------------------------------

// A file was opened under `fd` with `path`. A path seen before (letters compared without regard to
// case, and the same file on disk when both identities are known) continues its counts; otherwise
// a new entry is appended.
void stats_register(SlotStatistics& stats, int fd, const std::string& path, const FileIdentity& identity);
// Counts one 188-byte packet into the file behind `fd`, or takes it out again (`take_back`).
// A handle that was never registered counts nothing.
void count_packet(SlotStatistics& stats, int fd, const std::uint8_t* packet, bool take_back);
// Forgets the continuity reference of every PID of the file behind `fd`.
void reset_continuity(SlotStatistics& stats, int fd);
// Releases every entry and the handle map.
void stats_clear(SlotStatistics& stats);
// The entry the handle currently maps to, or null.
const FileStatsSlot* stats_file_of(const SlotStatistics& stats, int fd);
// The record of `pid` in `file`, or null when the PID did not occur there.
const PidStats* stats_pid(const FileStatsSlot& file, int pid);

// --- Calls from the writer and the job ---------------------------------------------------------

// A file was opened for the slot under `fd` (its current `path`): its counts start or continue.
void stats_register_file(OutputStream& slot, int fd);
// One packet written to the file behind `fd`.
void stats_count_packet(OutputStream& slot, int fd, const std::uint8_t* packet);
// Discards the statistics of the record (pass restart).
void stats_discard(OutputStream& slot);

// Cuts the slot's file behind `fd` back to `cut` bytes (clamped to 0 .. its size). With statistics
// on, the file's continuity memory is reset first and every whole packet from `cut` to the end is
// read back in file order and taken out of its counts; only then is the file truncated. When
// `taken` is given, those packets are also appended to it (for callers that move them on into
// another file). The file position is left at the cut, so the next write continues there.
// The slot's write buffer must have been flushed to `fd` before. Returns the new size, or -1 when
// the file could not be read, positioned or truncated (or `taken` could not hold the packets).
long long cut_back_file(RunState& run, OutputStream& slot, int fd, long long cut,
                        std::vector<std::uint8_t>* taken = nullptr);

}  // namespace quill
