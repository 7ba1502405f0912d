// The channel mode of an output's AAC audio: the channel_configuration of the ADTS header
// (ISO/IEC 13818-7) in each audio PES start, with the audio clocks kept beside it. The mode is
// the code -GOPCH shows in GOP lists (0 dual mono, 2 stereo) and what audio splits watch.
#pragma once
#include <cstdint>

namespace quill {

struct RunState;
struct OutputStream;

constexpr int kAudioModeEntries = 50;

// What the audio PES starting in a packet says.
struct AdtsMode {
    int mode = -1;              // channel_configuration of the first header taken, -1 none
    int sampling_index = -1;    // its sampling_frequency_index
    std::int64_t pts = 0;       // PES PTS, 0 when the header has none
};

// The first valid ADTS header behind the PES header of an audio PES start (stream_id 0xC0 to
// 0xCF). Valid: syncword and layer 0 (FF F0, F1, F8 or F9: with or without CRC), AAC LC,
// aac_frame_length from 2 up to PES_packet_length, one raw data block; any buffer fullness.
// Only 48, 44.1 and 32 kHz headers are taken; lower rates are passed over and the search goes on.
AdtsMode find_adts_mode(const std::uint8_t* packet);

// The tracking on one audio packet of the slot, before it is written: audio clocks, the guard
// time after a switch, and the mode (recorded when it changes).
void track_audio_packet(RunState& run, int slot, const std::uint8_t* packet);

// Number of the mode in the slot's table: the entry holding it or the first unused one, -1 when
// all 50 hold other modes.
int audio_mode_number(const OutputStream& slot, int mode);

// Start values of a new pass, job or assignment.
void reset_audio_track(OutputStream& slot);

}  // namespace quill
