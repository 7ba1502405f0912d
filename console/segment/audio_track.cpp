#include "segment/audio_track.h"

#include "segment/timing.h"
#include "state/run_state.h"

namespace quill {

int audio_mode_number(const OutputStream& s, int mode) {
    for (int i = 0; i < kAudioModeEntries; ++i) {
        const int entry = s.audio.modes[static_cast<std::size_t>(i)];
        if (entry == mode || entry == -1) return i;
    }
    return -1;
}

void track_audio_packet(RunState& run, int slot, const std::uint8_t* packet) {
    const Options& o = run.options;
    OutputStream& s = run.outputs[static_cast<std::size_t>(slot)];
    if (!s.programme.in_use || !s.file.enabled || (s.file.fd < 0 && !o.gop_only)) return;
    const AdtsMode found = find_adts_mode(packet);
    if (found.mode < 0) return;

    s.audio.current_pts = found.pts;
    if (time_unset(s.audio.first_pts)) s.audio.first_pts = found.pts;
    if (!s.audio.guard_passed && s.audio.previous_pts > 0 && s.audio.guard_remaining > 0) {
        s.audio.guard_remaining -= pts_delta(s.audio.current_pts, s.audio.previous_pts);
        if (s.audio.guard_remaining <= 0) s.audio.guard_passed = 1;
    }
    s.audio.previous_pts = s.audio.current_pts;

    if (found.mode == s.audio.last_channel_mode) return;
    // The audio numbers only count while changes can be split on.
    const int number = audio_mode_number(s, found.mode);
    if (number >= 0 && o.audio_split > 0 && !o.gop_only) {
        s.audio.previous_number = s.audio.number;
        s.audio.number = number;
        s.audio.modes[static_cast<std::size_t>(number)] = found.mode;
    }
    s.audio.last_channel_mode = found.mode;
    s.audio.channel_code = found.mode;
}

void reset_audio_track(OutputStream& s) {
    s.audio.last_channel_mode = -1;
    s.audio.channel_code = -1;
    s.audio.modes.fill(-1);
    s.audio.number = 0;
    s.audio.previous_number = 0;
    s.audio.current_pts = s.audio.first_pts = s.audio.previous_pts = kUnsetTime;
    s.audio.guard_remaining = 0;
    s.audio.guard_passed = 1;
}

}  // namespace quill
