// Readers of what packets carry beyond their header: the payload offset, PES headers and their
// time stamps (ISO/IEC 13818-1 2.4.3.6), the PCR, the ADTS header of AAC audio (ISO/IEC 13818-7)
// and the TOT's time of day (ARIB STD-B10). Each reads one 188-byte packet and nothing past it.
#pragma once
#include <cstdint>

namespace quill {

// Offset of the payload of a TS packet: 4, or behind the adaptation field; 188 when the field
// claims more than the packet holds.
int ts_payload_offset(const std::uint8_t* packet);
// PES header at `pes` (00 00 01 stream_id ...): PTS_DTS_flags of its byte 7.
inline int pes_pts_dts_flags(const std::uint8_t* pes) { return pes[7] >> 6; }
// The 33-bit time stamp of a PES PTS or DTS field (5 bytes: prefix, marker bits).
std::int64_t read_time_stamp_field(const std::uint8_t* field);
// PTS of a PES header beginning with its start code prefix (the field at PES byte 9).
inline std::int64_t read_pes_pts(const std::uint8_t* pes) { return read_time_stamp_field(pes + 9); }
// PCR base (33 bits) of the adaptation field of a packet that carries a PCR (bytes 6 to 10).
std::int64_t read_pcr_base(const std::uint8_t* packet);

// PTS of a video PES start that carries one (stream_id 0xE0 to 0xEF, the PES header wholly inside
// the packet), else -1.
std::int64_t video_pes_pts(const std::uint8_t* packet);

// The first group_of_pictures_header (ISO/IEC 13818-2 6.2.2.6) in `fill` bytes of video collected
// from consecutive payloads: the offset of the byte holding its broken_link flag
// (kBrokenLinkBit), kBrokenLinkNotYet when the header starts there but that byte is still to come,
// -1 when there is no header.
constexpr int kBrokenLinkNotYet = -2;
constexpr std::uint8_t kBrokenLinkBit = 0x20;
int find_broken_link_byte(const std::uint8_t* bytes, int fill);

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

// The channel_configuration of the first valid ADTS header of an audio PES start on `pid` among
// the units of `unit_size` bytes from `from` up to `end` (past damage the search finds the next
// synchronised run); -1 when there is none.
int next_adts_mode(const std::uint8_t* from, const std::uint8_t* end, int unit_size, int pid);

}  // namespace quill
