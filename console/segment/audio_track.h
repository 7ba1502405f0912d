// The channel mode of an output's AAC audio: the channel_configuration of the ADTS header
// (ISO/IEC 13818-7) in each audio PES start, with the audio clocks kept beside it. The mode is
// the code -GOPCH shows in GOP lists (0 dual mono, 2 stereo) and what audio splits watch.
#pragma once
#include <cstdint>

#include "stream/pes.h"

namespace quill {

struct RunState;
struct OutputStream;

// The tracking on one audio packet of the slot, before it is written: audio clocks, the guard
// time after a switch, and the mode (recorded when it changes).
void track_audio_packet(RunState& run, int slot, const std::uint8_t* packet);

// Number of the mode in the slot's table: the entry holding it or the first unused one, -1 when
// all 50 hold other modes.
int audio_mode_number(const OutputStream& slot, int mode);

// Start values of a new pass, job or assignment.
void reset_audio_track(OutputStream& slot);

}  // namespace quill
