// Packets, sections, elementary payloads, units and damage.
#include "synth.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <unordered_map>

namespace synth {

namespace {

// 256-entry table: entry i is the register after shifting byte i (in the top
// 8 bits) through 8 steps of the polynomial 0x04C11DB7.
constexpr std::array<uint32_t, 256> make_crc_table() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : (r << 1);
        t[i] = r;
    }
    return t;
}
constexpr auto kCrcTable = make_crc_table();

void put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
void put32(Bytes& b, uint32_t v) {
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}
// resize + memcpy rather than insert: g++ 12 at -O3 reports a false array-bounds error for
// inserting into a freshly built two-byte vector.
void append(Bytes& b, const Bytes& more) {
    if (more.empty()) return;
    const size_t at = b.size();
    b.resize(at + more.size());
    std::memcpy(b.data() + at, more.data(), more.size());
}

uint8_t bcd(int v) { return uint8_t(((v / 10) % 10) << 4 | (v % 10)); }

// MSB-first bit writer for the MPEG-2 video and AAC headers.
class BitWriter {
public:
    explicit BitWriter(Bytes& out) : out_(out) {}
    void put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            cur_ = uint8_t((cur_ << 1) | ((value >> i) & 1));
            if (++n_ == 8) flush_byte();
        }
    }
    void align(uint32_t fill_bit = 0) {
        while (n_ != 0) put(fill_bit, 1);
    }
private:
    void flush_byte() {
        out_.push_back(cur_);
        cur_ = 0;
        n_ = 0;
    }
    Bytes& out_;
    uint8_t cur_ = 0;
    int n_ = 0;
};

// Filler for slices and raw AAC data: no 0x00 (so no start code can form) and
// no 0xFF (so no ADTS syncword can form).
const Bytes& filler_block() {
    static const Bytes block = [] {
        Bytes b(4096);
        Rng r(0x5EED);
        for (auto& x : b) x = uint8_t(1 + r.below(254));
        return b;
    }();
    return block;
}
void append_filler(Bytes& b, size_t n, size_t phase) {
    const Bytes& f = filler_block();
    size_t pos = phase % f.size();
    while (n > 0) {
        size_t take = std::min(n, f.size() - pos);
        b.insert(b.end(), f.begin() + long(pos), f.begin() + long(pos + take));
        n -= take;
        pos = 0;
    }
}

void put_timestamp(Bytes& b, uint8_t prefix, uint64_t v) {
    v &= 0x1FFFFFFFFull;
    b.push_back(uint8_t(prefix << 4 | ((v >> 30) & 7) << 1 | 1));
    b.push_back(uint8_t(v >> 22));
    b.push_back(uint8_t(((v >> 15) & 0x7F) << 1 | 1));
    b.push_back(uint8_t(v >> 7));
    b.push_back(uint8_t((v & 0x7F) << 1 | 1));
}

}  // namespace

uint32_t crc32_mpeg2(const uint8_t* data, size_t size) {
    uint32_t r = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) r = (r << 8) ^ kCrcTable[(r >> 24) ^ data[i]];
    return r;
}

uint64_t Rng::next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// ---------------------------------------------------------------------------
// Reading back

size_t payload_offset(const Packet& p) {
    uint8_t afc = afc_of(p);
    if (!(afc & 1)) return kPacketSize;
    if (!(afc & 2)) return 4;
    size_t off = 5 + size_t(p[4]);
    return off > kPacketSize ? kPacketSize : off;
}

std::vector<size_t> indices_of(const std::vector<Packet>& packets, uint16_t pid) {
    std::vector<size_t> v;
    for (size_t i = 0; i < packets.size(); ++i)
        if (pid_of(packets[i]) == pid) v.push_back(i);
    return v;
}

std::vector<size_t> unit_starts(const std::vector<Packet>& packets, uint16_t pid) {
    std::vector<size_t> v;
    for (size_t i = 0; i < packets.size(); ++i)
        if (pid_of(packets[i]) == pid && pusi_of(packets[i])) v.push_back(i);
    return v;
}

std::optional<uint64_t> pcr_base_of(const Packet& p) {
    if (!(afc_of(p) & 2) || p[4] < 7 || !(p[5] & 0x10)) return std::nullopt;
    return uint64_t(p[6]) << 25 | uint64_t(p[7]) << 17 | uint64_t(p[8]) << 9 | uint64_t(p[9]) << 1 |
           uint64_t(p[10] >> 7);
}

std::optional<uint64_t> pes_pts_of(const Packet& p) {
    if (!pusi_of(p)) return std::nullopt;
    size_t o = payload_offset(p);
    if (o + 14 > kPacketSize) return std::nullopt;
    const uint8_t* s = p.data() + o;
    if (s[0] != 0 || s[1] != 0 || s[2] != 1) return std::nullopt;
    if ((s[3] & 0xF0) != 0xE0 && (s[3] & 0xF0) != 0xC0) return std::nullopt;
    if (!(s[7] & 0x80)) return std::nullopt;
    return uint64_t(s[9] & 0x0E) << 29 | uint64_t(s[10]) << 22 | uint64_t(s[11] & 0xFE) << 14 |
           uint64_t(s[12]) << 7 | uint64_t(s[13] >> 1);
}

std::optional<SectionView> read_section(const Packet& p) {
    if (afc_of(p) != 1 || p[4] != 0) return std::nullopt;
    SectionView v;
    v.table_id = p[5];
    v.section_length = uint16_t((p[6] & 0x0F) << 8 | p[7]);
    if (!(p[6] & 0x80) || v.section_length < 9 || 8 + size_t(v.section_length) > kPacketSize) return std::nullopt;
    v.table_id_extension = uint16_t(p[8] << 8 | p[9]);
    v.version = uint8_t((p[10] >> 1) & 0x1F);
    v.current_next = p[10] & 1;
    v.section_number = p[11];
    v.last_section_number = p[12];
    size_t end = 8 + v.section_length;  // one past the CRC
    v.body.assign(p.begin() + 13, p.begin() + long(end - 4));
    v.crc_ok = crc32_mpeg2(p.data() + 5, end - 5) == 0;  // CRC over section incl. CRC_32 is 0
    return v;
}

// ---------------------------------------------------------------------------
// Dates and times

uint16_t mjd(int year, int month, int day) {
    // ETSI EN 300 468 Annex C (used by ARIB STD-B10).
    int y = year - 1900;
    int l = (month == 1 || month == 2) ? 1 : 0;
    return uint16_t(14956 + day + int((y - l) * 365.25) + int((month + 1 + l * 12) * 30.6001));
}

std::array<uint8_t, 5> mjd_bcd(const JstTime& t) {
    uint16_t d = mjd(t.year, t.month, t.day);
    return {uint8_t(d >> 8), uint8_t(d), bcd(t.hour), bcd(t.minute), bcd(t.second)};
}

JstTime add_seconds(JstTime t, int64_t seconds) {
    static const int days_in[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int64_t s = int64_t(t.hour) * 3600 + t.minute * 60 + t.second + seconds;
    int64_t days = s >= 0 ? s / 86400 : -((-s + 86399) / 86400);
    s -= days * 86400;
    t.hour = int(s / 3600);
    t.minute = int(s / 60 % 60);
    t.second = int(s % 60);
    auto month_len = [&](int y, int m) {
        bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        return days_in[m - 1] + (m == 2 && leap ? 1 : 0);
    };
    for (; days > 0; --days) {
        if (++t.day > month_len(t.year, t.month)) {
            t.day = 1;
            if (++t.month > 12) { t.month = 1; ++t.year; }
        }
    }
    for (; days < 0; ++days) {
        if (--t.day < 1) {
            if (--t.month < 1) { t.month = 12; --t.year; }
            t.day = month_len(t.year, t.month);
        }
    }
    return t;
}

// ---------------------------------------------------------------------------
// Descriptors

Bytes descriptor(uint8_t tag, const Bytes& body) {
    Bytes d{tag, uint8_t(body.size())};
    append(d, body);
    return d;
}

Bytes ca_descriptor(uint16_t ca_pid, uint16_t ca_system_id, const Bytes& private_data) {
    Bytes body;
    put16(body, ca_system_id);
    put16(body, 0xE000u | (ca_pid & 0x1FFF));
    append(body, private_data);
    return descriptor(0x09, body);
}

Bytes hierarchical_descriptor(bool high_quality, uint16_t reference_pid) {
    // reserved_future_use (7 bits, ones), quality_level (1); reserved (3), reference_PID (13).
    Bytes body{uint8_t(0xFE | (high_quality ? 1 : 0))};
    put16(body, 0xE000u | (reference_pid & 0x1FFF));
    return descriptor(0xC0, body);
}

Bytes service_descriptor(uint8_t service_type, const std::string& provider, const std::string& name) {
    Bytes body{service_type, uint8_t(provider.size())};
    body.insert(body.end(), provider.begin(), provider.end());
    body.push_back(uint8_t(name.size()));
    body.insert(body.end(), name.begin(), name.end());
    return descriptor(0x48, body);
}

Bytes short_event_descriptor(const std::string& name, const std::string& text) {
    Bytes body{'j', 'p', 'n', uint8_t(name.size())};
    body.insert(body.end(), name.begin(), name.end());
    body.push_back(uint8_t(text.size()));
    body.insert(body.end(), text.begin(), text.end());
    return descriptor(0x4D, body);
}

Bytes stream_identifier_descriptor(uint8_t component_tag) { return descriptor(0x52, {component_tag}); }

// ---------------------------------------------------------------------------
// Sections

Bytes long_section(uint8_t table_id, uint16_t ext, uint8_t version, uint8_t section_number,
                   uint8_t last_section_number, const Bytes& body, bool private_indicator) {
    size_t length = 5 + body.size() + 4;
    Bytes s{table_id, uint8_t((private_indicator ? 0xF0 : 0xB0) | ((length >> 8) & 0x0F)), uint8_t(length)};
    put16(s, ext);
    s.push_back(uint8_t(0xC0 | (version & 0x1F) << 1 | 1));
    s.push_back(section_number);
    s.push_back(last_section_number);
    append(s, body);
    put32(s, crc32_mpeg2(s));
    return s;
}

Bytes pat_section(uint16_t tsid, const std::vector<PatEntry>& entries, uint8_t version) {
    Bytes body;
    for (const auto& e : entries) {
        put16(body, e.program_number);
        put16(body, 0xE000u | (e.pid & 0x1FFF));
    }
    return long_section(0x00, tsid, version, 0, 0, body);
}

Bytes pmt_section(const Service& s) {
    Bytes body;
    put16(body, 0xE000u | (s.pcr_pid & 0x1FFF));
    put16(body, 0xF000u | uint32_t(s.program_descriptors.size()));
    append(body, s.program_descriptors);
    for (const auto& st : s.streams) {
        body.push_back(st.stream_type);
        put16(body, 0xE000u | (st.pid & 0x1FFF));
        put16(body, 0xF000u | uint32_t(st.descriptors.size()));
        append(body, st.descriptors);
    }
    return long_section(0x02, s.service_id, s.version, 0, 0, body);
}

Bytes cat_section(const std::vector<uint16_t>& emm_pids, uint8_t version, uint16_t ca_system_id) {
    Bytes body;
    for (uint16_t pid : emm_pids) append(body, ca_descriptor(pid, ca_system_id));
    return long_section(0x01, 0xFFFF, version, 0, 0, body);
}

Bytes nit_section(const NetworkInfo& n, const std::vector<Service>& services, uint8_t version) {
    Bytes name_d = descriptor(0x40, Bytes(n.network_name.begin(), n.network_name.end()));
    Bytes list_body;
    for (const auto& s : services) {
        put16(list_body, s.service_id);
        list_body.push_back(s.service_type);
    }
    Bytes ts_desc = descriptor(0x41, list_body);
    Bytes body;
    put16(body, 0xF000u | uint32_t(name_d.size()));
    append(body, name_d);
    put16(body, 0xF000u | uint32_t(6 + ts_desc.size()));
    put16(body, n.transport_stream_id);
    put16(body, n.original_network_id);
    put16(body, 0xF000u | uint32_t(ts_desc.size()));
    append(body, ts_desc);
    return long_section(0x40, n.network_id, version, 0, 0, body, true);
}

Bytes sdt_section(const NetworkInfo& n, const std::vector<Service>& services, uint8_t version) {
    Bytes body;
    put16(body, n.original_network_id);
    body.push_back(0xFF);
    for (const auto& s : services) {
        Bytes d = service_descriptor(s.service_type, "synth", s.name);
        put16(body, s.service_id);
        body.push_back(0xFD);                       // EIT_schedule 0, EIT_present_following 1
        put16(body, 0x8000u | uint32_t(d.size()));  // running_status 4 (running), free_CA 0
        append(body, d);
    }
    return long_section(0x42, n.transport_stream_id, version, 0, 0, body, true);
}

Bytes eit_pf_section(const EitPf& e) {
    Bytes body;
    put16(body, e.transport_stream_id);
    put16(body, e.original_network_id);
    body.push_back(1);                              // segment_last_section_number
    body.push_back(e.actual ? 0x4E : 0x4F);         // last_table_id
    put16(body, e.event_id);
    auto t = mjd_bcd(e.start);
    body.insert(body.end(), t.begin(), t.end());
    uint32_t d = e.duration_seconds;
    body.push_back(bcd(int(d / 3600)));
    body.push_back(bcd(int(d / 60 % 60)));
    body.push_back(bcd(int(d % 60)));
    Bytes desc = short_event_descriptor(e.name, "");
    // running_status: 4 running for the present event, 1 not running for the following
    put16(body, uint32_t(e.section_number == 0 ? 0x8000 : 0x2000) | uint32_t(desc.size()));
    append(body, desc);
    return long_section(e.actual ? 0x4E : 0x4F, e.service_id, e.version, e.section_number, 1, body, true);
}

Bytes tot_section(const JstTime& t, bool tdt) {
    auto jst = mjd_bcd(t);
    if (tdt) {
        Bytes s{0x70, 0x70, 0x05};
        s.insert(s.end(), jst.begin(), jst.end());
        return s;
    }
    // section_syntax_indicator 0, descriptors_loop_length 0, CRC_32.
    Bytes s{0x73, 0x70, 5 + 2 + 4};
    s.insert(s.end(), jst.begin(), jst.end());
    put16(s, 0xF000);
    put32(s, crc32_mpeg2(s));
    return s;
}

// ---------------------------------------------------------------------------
// Elementary payloads

Bytes video_es(const VideoFrame& f) {
    Bytes b;
    b.reserve(std::max<size_t>(f.size, 64));
    if (f.sequence_header) {
        b.insert(b.end(), {0x00, 0x00, 0x01, 0xB3});
        BitWriter w(b);
        w.put(f.width & 0xFFF, 12);
        w.put(f.height & 0xFFF, 12);
        w.put(3, 4);           // aspect_ratio_information 16:9
        w.put(4, 4);           // frame_rate_code 29.97
        w.put(0x3FFFF, 18);    // bit_rate_value (variable)
        w.put(1, 1);           // marker
        w.put(0x1E8, 10);      // vbv_buffer_size_value
        w.put(0, 1);           // constrained_parameters_flag
        w.put(0, 1);           // load_intra_quantiser_matrix
        w.put(0, 1);           // load_non_intra_quantiser_matrix
        b.insert(b.end(), {0x00, 0x00, 0x01, 0xB5});
        BitWriter x(b);
        x.put(1, 4);           // sequence_extension
        x.put(0x44, 8);        // main profile, high level
        x.put(0, 1);           // progressive_sequence
        x.put(1, 2);           // 4:2:0
        x.put(0, 2); x.put(0, 2); x.put(0, 12);
        x.put(1, 1);           // marker
        x.put(0, 8);
        x.put(0, 1);           // low_delay
        x.put(0, 2); x.put(0, 5);
        b.insert(b.end(), {0x00, 0x00, 0x01, 0xB8});
        BitWriter g(b);
        g.put(0, 1);           // drop_frame_flag
        g.put(0, 5); g.put(0, 6); g.put(1, 1); g.put(0, 6); g.put(0, 6);  // time_code
        g.put(f.closed_gop ? 1 : 0, 1);
        g.put(f.broken_link ? 1 : 0, 1);
        g.put(0, 5);
    }
    b.insert(b.end(), {0x00, 0x00, 0x01, 0x00});
    {
        BitWriter w(b);
        w.put(f.temporal_reference & 0x3FF, 10);
        w.put(uint32_t(f.type), 3);
        w.put(0xFFFF, 16);     // vbv_delay
        if (f.type != Picture::I) { w.put(0, 1); w.put(7, 3); }
        if (f.type == Picture::B) { w.put(0, 1); w.put(7, 3); }
        w.put(0, 1);           // extra_bit_picture
        w.align();
    }
    b.insert(b.end(), {0x00, 0x00, 0x01, 0xB5});
    {
        BitWriter w(b);
        w.put(8, 4);           // picture_coding_extension
        w.put(0xFFFF, 16);     // f_codes
        w.put(0, 2);           // intra_dc_precision
        w.put(3, 2);           // frame picture
        w.put(0b1000000001, 10);
        w.align();
    }
    // Slices of about 1 KiB each, numbered from 1.
    size_t slice = 1;
    while (b.size() + 5 <= f.size || slice == 1) {
        b.insert(b.end(), {0x00, 0x00, 0x01, uint8_t(1 + (slice - 1) % 0xAF)});
        size_t n = std::min<size_t>(1024, f.size > b.size() ? f.size - b.size() : 1);
        append_filler(b, std::max<size_t>(n, 1), slice * 131 + f.temporal_reference);
        ++slice;
    }
    return b;
}

// A silent individual_channel_stream of a single channel element: global_gain, ics_info with
// no scale factor bands, and no pulse, TNS or gain control data (22 bits).
constexpr uint32_t kSilentChannelBody = 0x230400;

Bytes adts_frame(const AudioFrame& a) {
    size_t header = a.protection_absent ? 7 : 9;
    size_t len = std::max(a.size, header + (a.channel_configuration == 0 ? 16 : 8));
    Bytes b;
    b.reserve(len);
    BitWriter w(b);
    w.put(0xFFF, 12);
    w.put(a.mpeg2_id ? 1 : 0, 1);
    w.put(0, 2);                           // layer
    w.put(a.protection_absent ? 1 : 0, 1);
    w.put(a.profile & 3, 2);
    w.put(a.sampling_frequency_index & 0xF, 4);
    w.put(0, 1);                           // private_bit
    w.put(a.channel_configuration & 7, 3);
    w.put(0, 1); w.put(0, 1);              // original_copy, home
    w.put(0, 1); w.put(0, 1);              // copyright bits
    w.put(uint32_t(len) & 0x1FFF, 13);     // aac_frame_length
    w.put(a.buffer_fullness & 0x7FF, 11);
    w.put(0, 2);                           // number_of_raw_data_blocks_in_frame - 1 = 0
    if (!a.protection_absent) {
        // adts_error_check: CRC-16 (poly 0x8005) over the fixed and variable header.
        uint16_t crc = 0xFFFF;
        for (size_t i = 0; i < 7; ++i) {
            crc ^= uint16_t(b[i] << 8);
            for (int k = 0; k < 8; ++k) crc = (crc & 0x8000) ? uint16_t(crc << 1 ^ 0x8005) : uint16_t(crc << 1);
        }
        put16(b, crc);
    }
    BitWriter r(b);
    if (a.channel_configuration == 0) {
        // program_config_element: two front single channel elements (dual mono).
        r.put(5, 3);                           // ID_PCE
        r.put(0, 4);                           // element_instance_tag
        r.put(a.profile & 3, 2);               // object_type
        r.put(a.sampling_frequency_index & 0xF, 4);
        r.put(2, 4);                           // num_front_channel_elements
        r.put(0, 4); r.put(0, 4); r.put(0, 2); r.put(0, 3); r.put(0, 4);
        r.put(0, 1); r.put(0, 1); r.put(0, 1); // no mixdowns
        r.put(0, 1); r.put(0, 4);              // front element 0: SCE tag 0
        r.put(0, 1); r.put(1, 4);              // front element 1: SCE tag 1
        r.align();
        r.put(0, 8);                           // comment_field_bytes
        // Two silent single channel elements, then ID_END.
        for (uint32_t tag = 0; tag < 2; ++tag) {
            r.put(0, 3);                       // ID_SCE
            r.put(tag, 4);
            r.put(kSilentChannelBody, 22);
        }
        r.put(7, 3);                           // ID_END
        r.align();
    } else {
        // One silent element (SCE or CPE) and ID_END, as an AAC-LC encoder writes silence.
        static const uint8_t kSilentMono[] = {0x01, 0x18, 0x20, 0x07};
        static const uint8_t kSilentStereo[] = {0x21, 0x10, 0x04, 0x60, 0x8C, 0x1C};
        if (a.channel_configuration == 1) b.insert(b.end(), std::begin(kSilentMono), std::end(kSilentMono));
        else b.insert(b.end(), std::begin(kSilentStereo), std::end(kSilentStereo));
    }
    // The rest of the frame is zero bytes, which decoders skip after ID_END.
    if (b.size() < len) b.resize(len, 0);
    return b;
}

Bytes pes_packet(uint8_t stream_id, const Bytes& es, std::optional<uint64_t> pts, std::optional<uint64_t> dts,
                 bool zero_length) {
    Bytes b{0x00, 0x00, 0x01, stream_id, 0, 0};
    uint8_t flags = pts ? (dts ? 0xC0 : 0x80) : 0x00;
    uint8_t hlen = pts ? (dts ? 10 : 5) : 0;
    b.push_back(0x80);  // '10', not scrambled, no priority/alignment/copyright/original
    b.push_back(flags);
    b.push_back(hlen);
    if (pts) put_timestamp(b, dts ? 3 : 2, *pts);
    if (pts && dts) put_timestamp(b, 1, *dts);
    size_t length = b.size() - 6 + es.size();
    if (!zero_length && length <= 0xFFFF) {
        b[4] = uint8_t(length >> 8);
        b[5] = uint8_t(length);
    }
    append(b, es);
    return b;
}

// ---------------------------------------------------------------------------
// Mux

namespace {

// Builds one packet. af may be null; payload is copied up to what fits.
// Returns the number of payload bytes taken.
size_t build_packet(Packet& p, uint16_t pid, bool pusi, bool tei, bool priority, uint8_t scrambling,
                    const Adaptation* af, const uint8_t* payload, size_t n, bool pad_with_adaptation, uint8_t cc) {
    size_t af_body = 0;  // bytes after adaptation_field_length
    bool has_af = af != nullptr;
    if (has_af) af_body = 1 + (af->pcr_base ? 6 : 0) + af->stuffing;
    size_t space = 184 - (has_af ? 1 + af_body : 0);
    size_t take = std::min(n, space);
    size_t pad = space - take;
    if (pad > 0 && pad_with_adaptation) {
        if (!has_af) {
            has_af = true;
            af_body = pad - 1;  // pad 1: adaptation_field_length 0 alone
        } else {
            af_body += pad;
        }
        pad = 0;
    }
    uint8_t afc = uint8_t((has_af ? 2 : 0) | (take > 0 || !has_af ? 1 : 0));
    p[0] = 0x47;
    p[1] = uint8_t((tei ? 0x80 : 0) | (pusi ? 0x40 : 0) | (priority ? 0x20 : 0) | ((pid >> 8) & 0x1F));
    p[2] = uint8_t(pid);
    p[3] = uint8_t((scrambling & 3) << 6 | afc << 4 | (cc & 0x0F));
    size_t o = 4;
    if (has_af) {
        p[o++] = uint8_t(af_body);
        if (af_body > 0) {
            size_t end = o + af_body;
            uint8_t flags = 0;
            if (af) {
                flags = uint8_t((af->discontinuity ? 0x80 : 0) | (af->random_access ? 0x40 : 0) |
                                (af->pcr_base ? 0x10 : 0));
            }
            p[o++] = flags;
            if (af && af->pcr_base) {
                uint64_t b = *af->pcr_base & 0x1FFFFFFFFull;
                uint16_t e = uint16_t(af->pcr_extension % 300);
                p[o++] = uint8_t(b >> 25);
                p[o++] = uint8_t(b >> 17);
                p[o++] = uint8_t(b >> 9);
                p[o++] = uint8_t(b >> 1);
                p[o++] = uint8_t((b & 1) << 7 | 0x7E | (e >> 8));
                p[o++] = uint8_t(e);
            }
            std::memset(p.data() + o, 0xFF, end - o);
            o = end;
        }
    }
    if (take > 0) std::memcpy(p.data() + o, payload, take);
    o += take;
    if (o < kPacketSize) std::memset(p.data() + o, 0xFF, kPacketSize - o);
    if (scrambling != 0) {
        // Scrambled payload looks random: no start code or section survives.
        size_t po = 4 + (has_af ? 1 + af_body : 0);
        for (size_t i = po; i < kPacketSize; ++i) p[i] = uint8_t(p[i] ^ (0xA5 + i * 37));
    }
    return take;
}

bool is_psi_pid(uint16_t pid) { return pid <= 0x1F; }

}  // namespace

size_t Mux::emit(const Packet& p) {
    size_t index = size_t(emitted_++);
    if (sink_) {
        sink_(p);
    } else {
        packets.push_back(p);
    }
    uint16_t pid = pid_of(p);
    auto it = std::find_if(last_.begin(), last_.end(), [&](const auto& e) { return e.first == pid; });
    if (it == last_.end()) last_.emplace_back(pid, p);
    else it->second = p;
    return index;
}

size_t Mux::packet(const PacketSpec& want) {
    Packet p;
    uint16_t pid = want.pid & 0x1FFF;
    uint8_t scr = want.scrambling;
    if (scramble_next && !is_psi_pid(pid) && pid != kPidNull) scr = 2;
    bool af_only = want.payload.empty() && want.adaptation.has_value();
    uint8_t cc = af_only ? uint8_t((cc_[pid] + 15) & 0x0F) : cc_[pid];
    build_packet(p, pid, want.payload_unit_start, want.transport_error || error_next, want.priority, scr,
                 want.adaptation ? &*want.adaptation : nullptr, want.payload.data(), want.payload.size(),
                 want.pad_with_adaptation && !want.payload.empty(), cc);
    if (afc_of(p) & 1) cc_[pid] = uint8_t((cc + 1) & 0x0F);
    return emit(p);
}

size_t Mux::duplicate_last(uint16_t pid) {
    auto it = std::find_if(last_.begin(), last_.end(), [&](const auto& e) { return e.first == pid; });
    if (it == last_.end()) return size_t(emitted_);
    Packet copy = it->second;
    return emit(copy);
}

size_t Mux::section(uint16_t pid, const Bytes& s) {
    size_t first = size_t(emitted_);
    Bytes chunk;
    chunk.reserve(184);
    chunk.push_back(0);  // pointer_field
    size_t take = std::min<size_t>(s.size(), 183);
    chunk.insert(chunk.end(), s.begin(), s.begin() + long(take));
    size_t done = take;
    bool start = true;
    for (;;) {
        Packet p;
        uint8_t cc = cc_[pid & 0x1FFF];
        uint8_t scr = 0;
        build_packet(p, pid, start, error_next, false, scr, nullptr, chunk.data(), chunk.size(), false, cc);
        cc_[pid & 0x1FFF] = uint8_t((cc + 1) & 0x0F);
        emit(p);
        if (done >= s.size()) break;
        start = false;
        take = std::min<size_t>(s.size() - done, 184);
        chunk.assign(s.begin() + long(done), s.begin() + long(done + take));
        done += take;
    }
    return first;
}

size_t Mux::pat(uint16_t tsid, const std::vector<PatEntry>& entries, uint8_t version) {
    return section(kPidPat, pat_section(tsid, entries, version));
}

size_t Mux::pes_step(uint16_t pid, const Bytes& pes, size_t& offset, const Adaptation* first_af) {
    Packet p;
    pid &= 0x1FFF;
    bool start = offset == 0;
    uint8_t scr = scramble_next ? 2 : 0;
    uint8_t cc = cc_[pid];
    offset += build_packet(p, pid, start, error_next, false, scr, start ? first_af : nullptr,
                           pes.data() + offset, pes.size() - offset, true, cc);
    if (afc_of(p) & 1) cc_[pid] = uint8_t((cc + 1) & 0x0F);
    return emit(p);
}

size_t Mux::pes(uint16_t pid, const Bytes& pes, const std::optional<Adaptation>& first) {
    size_t index = size_t(emitted_);
    size_t off = 0;
    do {
        pes_step(pid, pes, off, first ? &*first : nullptr);
    } while (off < pes.size());
    return index;
}

size_t Mux::pes_video(uint16_t pid, const VideoFrame& f, std::optional<uint64_t> pcr_base) {
    std::optional<Adaptation> af;
    if (pcr_base) af = Adaptation{.pcr_base = *pcr_base};
    return pes(pid, pes_packet(0xE0, video_es(f), f.pts, f.pts ? f.dts : std::nullopt, true), af);
}

size_t Mux::pes_audio(uint16_t pid, const AudioFrame& a) {
    return pes(pid, pes_packet(0xC0, adts_frame(a), a.pts, std::nullopt));
}

size_t Mux::pcr(uint16_t pid, uint64_t base, uint16_t extension, bool discontinuity) {
    PacketSpec s{.pid = pid, .adaptation = Adaptation{.pcr_base = base, .pcr_extension = extension,
                                                      .discontinuity = discontinuity, .stuffing = 183 - 7}};
    return packet(s);
}

size_t Mux::null(size_t n) {
    size_t first = size_t(emitted_);
    Packet p;
    p.fill(0xFF);
    p[0] = 0x47;
    p[1] = 0x1F;
    p[2] = 0xFF;
    for (size_t i = 0; i < n; ++i) {
        p[1] = uint8_t(0x1F | (error_next ? 0x80 : 0));
        p[3] = uint8_t(0x10 | cc_[kPidNull]);
        cc_[kPidNull] = uint8_t((cc_[kPidNull] + 1) & 0x0F);
        emit(p);
    }
    return first;
}

size_t Mux::filler(uint16_t pid, uint8_t fill, bool unit_start) {
    PacketSpec s{.pid = pid, .payload_unit_start = unit_start, .payload = Bytes(184, fill)};
    return packet(s);
}

// ---------------------------------------------------------------------------
// Units and files

void append_unit(Bytes& out, const Packet& p, Unit unit, uint64_t index) {
    if (unit == Unit::u192) {
        // copy_permission_indicator 0, 30-bit arrival time stamp (27 MHz), never 0x47 in byte 0.
        uint32_t ts = uint32_t((index * 2000 + 1) & 0x3FFFFFFF);
        out.insert(out.end(), {uint8_t(ts >> 24), uint8_t(ts >> 16), uint8_t(ts >> 8), uint8_t(ts)});
    }
    out.insert(out.end(), p.begin(), p.end());
    if (unit == Unit::u204) out.insert(out.end(), 16, 0x00);
}

Bytes to_units(const std::vector<Packet>& packets, Unit unit) {
    Bytes out;
    out.reserve(packets.size() * size_t(unit));
    for (size_t i = 0; i < packets.size(); ++i) append_unit(out, packets[i], unit, i);
    return out;
}

FileWriter::FileWriter(const std::string& path, Unit unit, size_t chunk_bytes)
    : file_(std::fopen(path.c_str(), "wb")), unit_(unit), chunk_(std::max<size_t>(chunk_bytes, 4096)) {
    buf_.reserve(chunk_ + 256);
}

FileWriter::~FileWriter() { close(); }

void FileWriter::insert_garbage_at(uint64_t offset, size_t len, uint64_t seed, Sync sync) {
    garbage_.push_back({offset, len, seed, sync});
    std::sort(garbage_.begin(), garbage_.end(), [](const Pending& a, const Pending& b) { return a.offset < b.offset; });
}

void FileWriter::push(const uint8_t* data, size_t n) {
    while (n > 0) {
        uint64_t pos = bytes_written();
        if (!garbage_.empty() && garbage_.front().offset < pos + n) {
            size_t before = garbage_.front().offset > pos ? size_t(garbage_.front().offset - pos) : 0;
            buf_.insert(buf_.end(), data, data + before);
            data += before;
            n -= before;
            Pending g = garbage_.front();
            garbage_.erase(garbage_.begin());
            emit_garbage(g);
            continue;
        }
        buf_.insert(buf_.end(), data, data + n);
        n = 0;
    }
    if (buf_.size() >= chunk_) flush();
}

// Long stretches go out in chunk-sized pieces (piece k from seed + k) so the
// buffer never grows past one chunk; a stretch within one chunk has the same
// bytes as garbage(len, seed).
void FileWriter::emit_garbage(const Pending& g) {
    uint64_t piece = 0;
    for (size_t left = g.len; left > 0; ++piece) {
        size_t take = std::min(left, chunk_);
        Bytes bytes = garbage(take, g.seed + piece, g.sync);
        buf_.insert(buf_.end(), bytes.begin(), bytes.end());
        left -= take;
        if (buf_.size() >= chunk_) flush();
    }
}

void FileWriter::put(const Packet& p) {
    uint8_t unit[204];
    size_t n = 0;
    if (unit_ == Unit::u192) {
        uint32_t ts = uint32_t((units_ * 2000 + 1) & 0x3FFFFFFF);
        unit[0] = uint8_t(ts >> 24);
        unit[1] = uint8_t(ts >> 16);
        unit[2] = uint8_t(ts >> 8);
        unit[3] = uint8_t(ts);
        n = 4;
    }
    std::memcpy(unit + n, p.data(), kPacketSize);
    n += kPacketSize;
    if (unit_ == Unit::u204) {
        std::memset(unit + n, 0, 16);
        n += 16;
    }
    ++units_;
    push(unit, n);
}

void FileWriter::flush() {
    if (!file_ || buf_.empty()) {
        written_ += buf_.size();
        buf_.clear();
        return;
    }
    if (std::fwrite(buf_.data(), 1, buf_.size(), file_) != buf_.size()) failed_ = true;
    written_ += buf_.size();
    buf_.clear();
}

bool FileWriter::close() {
    if (!file_) return false;
    // Garbage placed at or past the end still goes out.
    while (!garbage_.empty()) {
        Pending g = garbage_.front();
        garbage_.erase(garbage_.begin());
        emit_garbage(g);
    }
    flush();
    bool ok = !failed_;
    if (std::fclose(file_) != 0) ok = false;
    file_ = nullptr;
    return ok;
}

// ---------------------------------------------------------------------------
// Damage

Bytes garbage(size_t len, uint64_t seed, Sync sync) {
    Bytes b(len);
    Rng r(seed);
    for (size_t i = 0; i < len; ++i) {
        uint8_t x = uint8_t(r.next());
        if (sync == Sync::Avoid && x == 0x47) x = 0x46;
        b[i] = x;
    }
    if (sync == Sync::Stray) {
        // A 0x47 every so often at irregular spacing, never 8 at one unit spacing.
        for (size_t i = 3; i < len; i += 61 + r.below(97)) b[i] = 0x47;
    }
    return b;
}

void insert_garbage(Bytes& stream, size_t offset, size_t len, uint64_t seed, Sync sync) {
    offset = std::min(offset, stream.size());
    Bytes g = garbage(len, seed, sync);
    stream.insert(stream.begin() + long(offset), g.begin(), g.end());
}

void overwrite_garbage(Bytes& stream, size_t offset, size_t len, uint64_t seed, Sync sync) {
    if (offset >= stream.size()) return;
    len = std::min(len, stream.size() - offset);
    Bytes g = garbage(len, seed, sync);
    std::copy(g.begin(), g.end(), stream.begin() + long(offset));
}

void truncate(Bytes& stream, size_t size) {
    if (size < stream.size()) stream.resize(size);
}

void flip_bit(Bytes& stream, size_t byte, unsigned bit) {
    if (byte < stream.size()) stream[byte] = uint8_t(stream[byte] ^ (1u << (bit & 7)));
}

}  // namespace synth
