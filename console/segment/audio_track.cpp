#include "audio_track.h"

#include "run_state.h"
#include "timing.h"
#include "ts_packet.h"

namespace quill {

namespace {

constexpr int kLastAdtsSearch = 181;  // the 7 header bytes must lie inside the packet

bool has_payload(const std::uint8_t* p) { return (ts_adaptation_field_control(p) & 1) != 0; }

// ADTS fixed and variable header fields (ISO/IEC 13818-7 6.2), `h` at the syncword.
int adts_profile(const std::uint8_t* h) { return h[2] >> 6; }
int adts_sampling_index(const std::uint8_t* h) { return (h[2] >> 2) & 0x0F; }
int adts_channel_configuration(const std::uint8_t* h) { return ((h[2] & 0x01) << 2) | (h[3] >> 6); }
int adts_frame_length(const std::uint8_t* h) { return ((h[3] & 0x03) << 11) | (h[4] << 3) | (h[5] >> 5); }
int adts_raw_data_blocks(const std::uint8_t* h) { return h[6] & 0x03; }

// syncword, layer 0; ID (MPEG-2 or MPEG-4) and protection_absent may take either value: broadcasts
// write FF F8, most encoders FF F1.
bool adts_sync(const std::uint8_t* h) { return h[0] == 0xFF && (h[1] & 0xF6) == 0xF0; }

// adts_buffer_fullness is not checked: 0x7FF is the standard value of variable-rate streams, and
// the field counts 32-bit words per channel, which no byte length bounds.
bool valid_adts(const std::uint8_t* h, int pes_packet_length) {
    const int frame_length = adts_frame_length(h);
    const int sampling = adts_sampling_index(h);
    return adts_profile(h) == 1 && sampling >= 3 && sampling <= 8 && frame_length >= 2 &&
           frame_length <= pes_packet_length && adts_raw_data_blocks(h) == 0;
}

}  // namespace

AdtsMode find_adts_mode(const std::uint8_t* p) {
    AdtsMode found;
    if (!ts_payload_unit_start(p) || !has_payload(p)) return found;
    const int pes = ts_payload_offset(p);
    if (pes + 14 > kPacketSize) return found;  // the PES header would lie past the end
    if (p[pes] != 0 || p[pes + 1] != 0 || p[pes + 2] != 1 || (p[pes + 3] & 0xF0) != 0xC0) return found;
    const int pes_packet_length = (p[pes + 4] << 8) | p[pes + 5];
    const std::int64_t pts = pes_pts_dts_flags(p + pes) != 0 ? read_pes_pts(p + pes) : 0;
    for (int i = pes + 14; i <= kLastAdtsSearch; ++i) {
        const std::uint8_t* h = p + i;
        if (!adts_sync(h) || !valid_adts(h, pes_packet_length)) continue;
        if (adts_sampling_index(h) >= 6) continue;  // 24 kHz and below: not a broadcast main audio
        found.mode = adts_channel_configuration(h);
        found.sampling_index = adts_sampling_index(h);
        found.pts = pts;
        return found;
    }
    return found;
}

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
