#include "stream/pes.h"

#include "stream/ts_packet.h"

namespace quill {

namespace {

constexpr int kLastAdtsSearch = 181;  // the 7 header bytes must lie inside the packet

bool has_payload(const std::uint8_t* p) { return (ts_adaptation_field_control(p) & 1) != 0; }
bool has_adaptation_field(const std::uint8_t* p) { return (ts_adaptation_field_control(p) & 2) != 0; }
int adaptation_field_length(const std::uint8_t* p) { return p[4]; }

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

std::int64_t video_pes_pts(const std::uint8_t* p) {
    if (!ts_payload_unit_start(p) || !has_payload(p)) return -1;
    const int pes = ts_payload_offset(p);
    if (pes + 14 > kPacketSize) return -1;  // the PTS would lie past the end of the packet
    if (p[pes] != 0 || p[pes + 1] != 0 || p[pes + 2] != 1 || (p[pes + 3] & 0xF0) != 0xE0) return -1;
    if (pes_pts_dts_flags(p + pes) == 0) return -1;
    return read_pes_pts(p + pes);
}

int find_broken_link_byte(const std::uint8_t* b, int fill) {
    constexpr std::uint8_t kGroupStartCode = 0xB8;
    constexpr int kBrokenLinkByte = 7;  // time_code (25 bits) and closed_gop come first
    for (int i = 0; i + 4 <= fill; ++i) {
        if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1 || b[i + 3] != kGroupStartCode) continue;
        return i + kBrokenLinkByte < fill ? i + kBrokenLinkByte : kBrokenLinkNotYet;
    }
    return -1;
}

int ts_payload_offset(const std::uint8_t* packet) {
    if (!has_adaptation_field(packet)) return 4;
    const int offset = 5 + adaptation_field_length(packet);
    return offset > kPacketSize ? kPacketSize : offset;
}

std::int64_t read_time_stamp_field(const std::uint8_t* f) {
    return (static_cast<std::int64_t>(f[0] & 0x0E) << 29) | (static_cast<std::int64_t>(f[1]) << 22) |
           (static_cast<std::int64_t>(f[2] & 0xFE) << 14) | (static_cast<std::int64_t>(f[3]) << 7) |
           (static_cast<std::int64_t>(f[4]) >> 1);
}

std::int64_t read_pcr_base(const std::uint8_t* p) {
    return (static_cast<std::int64_t>(p[6]) << 25) | (static_cast<std::int64_t>(p[7]) << 17) |
           (static_cast<std::int64_t>(p[8]) << 9) | (static_cast<std::int64_t>(p[9]) << 1) |
           (static_cast<std::int64_t>(p[10]) >> 7);
}

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

int next_adts_mode(const std::uint8_t* p, const std::uint8_t* end, int unit_size, int pid) {
    while (p + kPacketSize <= end) {
        if (*p != kSyncByte) {
            const std::uint8_t* next = find_sync(p, end, unit_size);
            if (!next) next = find_sync_tail(p, end, unit_size);
            if (!next || next + kPacketSize > end) break;
            p = next;
        }
        if (ts_pid(p) == pid && ts_payload_unit_start(p)) {
            const int mode = find_adts_mode(p).mode;
            if (mode >= 0) return mode;
        }
        p += unit_size;
    }
    return -1;
}

}  // namespace quill
