#include "segment/audio_track.h"

#include "segment/timing.h"
#include "state/run_state.h"

namespace quill {

int audio_mode_number(const OutputStream& s, int mode) {
    for (int i = 0; i < kAudioModeEntries; ++i) {
        const int entry = s.audio_modes[static_cast<std::size_t>(i)];
        if (entry == mode || entry == -1) return i;
    }
    return -1;
}

void track_audio_packet(RunState& run, int slot, const std::uint8_t* packet) {
    const Options& o = run.options;
    OutputStream& s = run.outputs[static_cast<std::size_t>(slot)];
    if (!s.in_use || !s.enabled || (s.fd < 0 && !o.gop_only)) return;
    const AdtsMode found = find_adts_mode(packet);
    if (found.mode < 0) return;

    s.current_audio_pts = found.pts;
    if (time_unset(s.first_audio_pts)) s.first_audio_pts = found.pts;
    if (!s.guard_passed && s.previous_audio_pts > 0 && s.guard_remaining > 0) {
        s.guard_remaining -= pts_delta(s.current_audio_pts, s.previous_audio_pts);
        if (s.guard_remaining <= 0) s.guard_passed = 1;
    }
    s.previous_audio_pts = s.current_audio_pts;

    if (found.mode == s.last_channel_mode) return;
    // The audio numbers only count while changes can be split on.
    const int number = audio_mode_number(s, found.mode);
    if (number >= 0 && o.audio_split > 0 && !o.gop_only) {
        s.previous_audio_number = s.audio_number;
        s.audio_number = number;
        s.audio_modes[static_cast<std::size_t>(number)] = found.mode;
    }
    s.last_channel_mode = found.mode;
    s.audio_channel_code = found.mode;
}

void reset_audio_track(OutputStream& s) {
    s.last_channel_mode = -1;
    s.audio_channel_code = -1;
    s.audio_modes.fill(-1);
    s.audio_number = 0;
    s.previous_audio_number = 0;
    s.current_audio_pts = s.first_audio_pts = s.previous_audio_pts = kUnsetTime;
    s.guard_remaining = 0;
    s.guard_passed = 1;
}

}  // namespace quill
