#include "hooks.h"

#include "audio_split.h"
#include "audio_track.h"
#include "gop_list.h"
#include "programme_split.h"
#include "run_state.h"
#include "timing.h"

namespace quill {

void rebase_time_stamps(RunState& run, int) { rebase_current_packet(run); }
void capture_broadcast_time(RunState& run) { capture_broadcast_time_of_day(run, run.job.current); }
void gop_packet(RunState& run, int slot) { gop_list_packet(run, slot, run.job.current, 1); }
long long audio_packet(RunState& run, int slot) { return audio_split_audio_packet(run, slot); }
long long check_programme_change(RunState& run) { return check_programme_change(run, run.job.current); }
void reset_segment_state(RunState& run, int slot) {
    OutputStream& s = run.outputs[static_cast<std::size_t>(slot)];
    reset_slot_clocks(s);
    reset_gop_state(s);
    drop_audio_parts(run, slot);
    reset_audio_track(s);
    reset_split_state(run, slot);
}
void finish_slot_segments(RunState& run, int slot) {
    finish_overlap_gop_list(run.outputs[static_cast<std::size_t>(slot)]);
    finish_gop_lists(run, run.outputs[static_cast<std::size_t>(slot)]);
    finish_audio_parts(run, slot);
}
void reset_slot_timing(RunState& run, int slot) { reset_slot_clocks(run.outputs[static_cast<std::size_t>(slot)]); }
void reset_slot_audio_split(RunState& run, int slot) { restart_audio_parts(run, slot); }
void close_audio_parts_at_cut(RunState& run, int slot) { close_audio_parts_of_cut(run, slot); }
long long split_on_pmt_change(RunState& run, int slot) {
    if (slot == kSlotOneSeg || slot == kSlotOneSeg2) return check_oneseg_pmt_change(run, slot);
    return check_pmt_change(run, slot);
}
long long audio_split_packet(RunState& run, int slot, const std::uint8_t* packet) {
    return audio_split_hold(run, slot, packet);
}
void pcr_to_audio_part(RunState&, int, const std::uint8_t*) {}

}  // namespace quill
