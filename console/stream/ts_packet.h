// Transport stream packets (ISO/IEC 13818-1): header fields, the adaptation field, unit size
// detection, synchronisation search, the MPEG-2 CRC-32 and the generated PAT.
#pragma once
#include <cstddef>
#include <cstdint>

#include "state/mpeg.h"

namespace quill {


// One accessor per header field, named after the standard's fields.
inline int ts_sync_byte(const std::uint8_t* p) { return p[0]; }
inline int ts_transport_error(const std::uint8_t* p) { return (p[1] >> 7) & 1; }
inline int ts_payload_unit_start(const std::uint8_t* p) { return (p[1] >> 6) & 1; }
inline int ts_pid(const std::uint8_t* p) { return ((p[1] & 0x1F) << 8) | p[2]; }
inline int ts_scrambling_control(const std::uint8_t* p) { return (p[3] >> 6) & 3; }
inline int ts_adaptation_field_control(const std::uint8_t* p) { return (p[3] >> 4) & 3; }
inline int ts_continuity_counter(const std::uint8_t* p) { return p[3] & 0x0F; }

// PSI sections are read out of one packet with the section at byte 5 (pointer_field 0 at byte 4).
inline int section_table_id(const std::uint8_t* p) { return p[5]; }
inline int section_length(const std::uint8_t* p) { return ((p[6] & 0x0F) << 8) | p[7]; }
inline int section_table_id_extension(const std::uint8_t* p) { return (p[8] << 8) | p[9]; }
inline int section_version(const std::uint8_t* p) { return (p[10] >> 1) & 0x1F; }
inline int section_number(const std::uint8_t* p) { return p[11]; }
inline int section_last_number(const std::uint8_t* p) { return p[12]; }
// A section starts in this packet at byte 5: unit start, payload only, pointer_field 0.
inline bool section_starts_at_five(const std::uint8_t* p) {
    return ts_payload_unit_start(p) && ts_adaptation_field_control(p) == 1 && p[4] == 0;
}
// First CRC byte of the section, clamped to the packet so that loops can never run past it.
inline int section_end(const std::uint8_t* p) {
    int end = 4 + section_length(p);
    return end > kPacketSize ? kPacketSize : end;
}

struct TsHeader {
    unsigned sync_byte = 0;
    unsigned transport_error_indicator = 0;
    unsigned payload_unit_start_indicator = 0;
    unsigned transport_priority = 0;
    unsigned pid = 0;
    unsigned transport_scrambling_control = 0;
    unsigned adaptation_field_control = 0;
    unsigned continuity_counter = 0;
};

struct AdaptationField {
    unsigned length = 0;
    unsigned discontinuity_indicator = 0;
    unsigned random_access_indicator = 0;
    unsigned es_priority_indicator = 0;
    unsigned pcr_flag = 0;
    unsigned opcr_flag = 0;
    unsigned splicing_point_flag = 0;
    unsigned transport_private_data_flag = 0;
    unsigned adaptation_field_extension_flag = 0;
    std::uint64_t pcr = 0;   // base << 9 | extension
    std::uint64_t opcr = 0;
    unsigned splice_countdown = 0;
    unsigned transport_private_data_length = 0;
    unsigned extension_length = 0;
    unsigned ltw_flag = 0;
    unsigned piecewise_rate_flag = 0;
    unsigned seamless_splice_flag = 0;
    unsigned ltw_valid_flag = 0;
    unsigned ltw_offset = 0;
    unsigned piecewise_rate = 0;
    unsigned splice_type = 0;
    std::uint64_t dts_next_au = 0;
};

TsHeader parse_ts_header(const std::uint8_t* packet);
AdaptationField parse_adaptation_field(const std::uint8_t* packet);

// Unit size (188..319) of the units in [begin, end), or 0 when none is established.
int select_unit_size(const std::uint8_t* begin, const std::uint8_t* end);
// First position at or after `from` where 8 sync bytes follow at unit spacing; null when none.
const std::uint8_t* find_sync(const std::uint8_t* from, const std::uint8_t* end, int unit_size);
// The same for the short last stretch of a buffer (every remaining unit start must hold 0x47).
const std::uint8_t* find_sync_tail(const std::uint8_t* from, const std::uint8_t* end, int unit_size);

std::uint32_t crc32_mpeg2(const std::uint8_t* first, const std::uint8_t* end);
// A 188-byte PAT naming the network PID and one service; bytes 0-12 come from `header_template`.
void build_pat_packet(const std::uint8_t* header_template, int service_id, int pmt_pid, std::uint8_t* out);

}  // namespace quill
