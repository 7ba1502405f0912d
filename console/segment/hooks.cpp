#include "hooks.h"

namespace quill {

void rebase_time_stamps(RunState&, int) {}
void capture_broadcast_time(RunState&) {}
void gop_packet(RunState&, int) {}
void audio_packet(RunState&, int) {}
void check_programme_change(RunState&) {}
void reset_segment_state(RunState&, int) {}
void finish_slot_segments(RunState&, int) {}
void reset_slot_timing(RunState&, int) {}
void reset_slot_audio_split(RunState&, int) {}
long long split_on_pmt_change(RunState&, int) { return 0; }
long long audio_split_packet(RunState&, int, const std::uint8_t*) { return 0; }
void pcr_to_audio_part(RunState&, int, const std::uint8_t*) {}

}  // namespace quill
