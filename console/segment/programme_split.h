// Programme and PMT splits (-SEP, -SEP2, -SEP3) with their overlaps (-OVL): when an output starts
// its next file, how the old file is closed (trailing overlap or cut-back, GOP list, statistics),
// how the new one is named and what it starts with (PAT and PMT, the packets kept before the cut).
//
// Overlap timeline of a split at packet n of a slot, -OVLxx1,xx2:
//   old file: everything before n, then the first xx2 x 1024 packets from n on (xx2 > 0), or
//             everything before n minus its last -xx2 x 1024 packets (xx2 < 0);
//   new file: PAT and PMT, the last xx1 x 1024 packets the slot received before n, then n onwards.
#pragma once
#include <cstdint>
#include <string>

namespace quill {

struct RunState;
struct OutputStream;

enum class SplitKind {
    Programme,  // the EIT announced a new present event (slots 0, 3 to 19)
    Pmt,        // the slot's PMT changed version (slots 0, 3 to 19)
    OneSeg,     // a one-segment slot (1, 2): its own PMT changed, or it follows the first service
};

constexpr long long kPacketsPerOverlapUnit = 1024;
constexpr long long kOverlapUnitBytes = kPacketsPerOverlapUnit * 188;  // 192,512

// EIT p/f packet (ARIB STD-B10) under -SEP/-SEP2: splits the service whose present event changed,
// and under -SEP alone the one-segment outputs with the first service. -1 when a write failed.
long long check_programme_change(RunState& run, const std::uint8_t* packet);
// -SEP2/-SEP3: the PMT of a programme-table row changed version (after an earlier one); called per
// slot fed by it, after the slot took the new streams. -1 when a write failed.
long long check_pmt_change(RunState& run, int slot);
// The same for the PMT of one-segment slot 1 or 2.
long long check_oneseg_pmt_change(RunState& run, int slot);

// Closes or hands over the slot's current file and prepares the next one. `overlap` is whether the
// overlaps are made at this split (PMT splits: the video PID stayed, or -OVL x4 is 1). `pmt_changed`
// tells a one-segment split that the new PMT is written next by the routing. -1 when a write failed.
long long split_output(RunState& run, int slot, SplitKind kind, int overlap = 1, bool pmt_changed = false);

// Writes the overlap ring into the slot's (new) file, oldest first, as replayed packets; video
// packets of `video_pid` go through the GOP detection and those of `audio_pid` through the audio
// tracking first when `hooks` is set. -1 when a write failed.
long long replay_overlap_ring(RunState& run, int slot, int video_pid, int audio_pid, bool hooks);

// Cuts the slot's file `fd` back by -xx2 x 1024 packets (not below 0), taking the packets out of
// the statistics, and trims the GOP list `list_fd` to the new end. Returns the packets left.
long long cut_back_output(RunState& run, OutputStream& s, int fd, int list_fd);

// Drops every line of a GOP list whose packet number is at or past `packet_count`; the header
// lines stay. Returns 0, or -1 when the list could not be read or cut.
int trim_gop_list(int list_fd, long long packet_count);

// End of an input, after the slot's buffer went to its file: the cut-back of a negative xx2.
void cut_back_at_finish(RunState& run, OutputStream& s);

// Start values of a new input or pass: no splits yet, overlaps on, the ring empty.
void reset_split_state(RunState& run, int slot);

}  // namespace quill
