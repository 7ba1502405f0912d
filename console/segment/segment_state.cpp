#include "segment/segment_state.h"

#include "segment/audio_split.h"
#include "segment/audio_track.h"
#include "segment/gop_list.h"
#include "segment/programme_split.h"
#include "segment/timing.h"
#include "state/run_state.h"

namespace quill {

void reset_slot_segments(RunState& run, int slot) {
    OutputStream& s = run.outputs[static_cast<std::size_t>(slot)];
    reset_slot_clocks(s);
    reset_gop_state(s);
    drop_audio_parts(run, slot);
    reset_audio_track(s);
    reset_split_state(run, slot);
}

void finish_slot_segments(RunState& run, int slot) {
    OutputStream& s = run.outputs[static_cast<std::size_t>(slot)];
    finish_gop_lists(s);
    finish_audio_parts(run, slot);
}

}  // namespace quill
