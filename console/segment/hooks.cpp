#include "hooks.h"

namespace quill {

void rebase_time_stamps(RunState&, int) {}
void capture_broadcast_time(RunState&) {}
void gop_packet(RunState&, int) {}
void audio_packet(RunState&, int) {}
void check_programme_change(RunState&) {}
void reset_segment_state(RunState&, int) {}
void finish_slot_segments(RunState&, int) {}

}  // namespace quill
