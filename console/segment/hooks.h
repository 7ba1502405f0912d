// Calls from the job and the routing into segmentation and timing: time-stamp rewriting, the
// broadcast-time capture, GOP detection, audio tracking, programme splits and the per-slot
// finishing at the end of an input.
#pragma once

namespace quill {

struct RunState;

void rebase_time_stamps(RunState& run, int pid);      // -PTS, on the current packet in place
void capture_broadcast_time(RunState& run);           // PID 0x0014
void gop_packet(RunState& run, int slot);              // GOP detection on the slot's video PID
void audio_packet(RunState& run, int slot);            // AAC header tracking on the first audio PID
void check_programme_change(RunState& run);            // EIT, under -SEP/-SEP2
void reset_segment_state(RunState& run, int slot);     // per-slot state of a new pass
void finish_slot_segments(RunState& run, int slot);    // end of input: GOP lists, audio part files

}  // namespace quill
