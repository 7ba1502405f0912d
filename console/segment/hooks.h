// Calls from the job and the routing into segmentation and timing: time-stamp rewriting, the
// broadcast-time capture, GOP detection, audio tracking, programme splits and the per-slot
// finishing at the end of an input.
#pragma once
#include <cstdint>

namespace quill {

struct RunState;

void rebase_time_stamps(RunState& run, int pid);      // -PTS, on the current packet in place
void capture_broadcast_time(RunState& run);           // PID 0x0014
void gop_packet(RunState& run, int slot);              // GOP detection on the slot's video PID
// AAC header tracking on the first audio PID, and the audio split; -1 when a write failed.
[[nodiscard]] long long audio_packet(RunState& run, int slot);
long long check_programme_change(RunState& run);       // EIT, under -SEP/-SEP2; -1 failed write
void reset_segment_state(RunState& run, int slot);     // per-slot state of a new pass
void finish_slot_segments(RunState& run, int slot);    // end of input: GOP lists, audio part files

// A slot whose programme was (re)assigned starts its clocks and its audio-mode tracking afresh.
void reset_slot_timing(RunState& run, int slot);
void reset_slot_audio_split(RunState& run, int slot);
// A programme or PMT split closes the audio part files of the slot's finished file.
void close_audio_parts_at_cut(RunState& run, int slot);
// -SEP2/-SEP3: the slot's PMT changed version; may close the slot's file and start the next one.
// -1 when a write failed, else >= 0.
long long split_on_pmt_change(RunState& run, int slot);
// While an audio-mode split of the slot is under way the packet may be held back or go to an
// audio part file: 1 when taken there, 0 when routing goes on as usual, -1 when a write failed.
long long audio_split_packet(RunState& run, int slot, const std::uint8_t* packet);
// The first PCR after an audio part file was opened also goes to that file.
void pcr_to_audio_part(RunState& run, int slot, const std::uint8_t* packet);

}  // namespace quill
