#include "stream/ts_packet.h"

#include <array>
#include <cstring>

namespace quill {

TsHeader parse_ts_header(const std::uint8_t* p) {
    TsHeader h;
    h.sync_byte = p[0];
    h.transport_error_indicator = (p[1] >> 7) & 1;
    h.payload_unit_start_indicator = (p[1] >> 6) & 1;
    h.transport_priority = (p[1] >> 5) & 1;
    h.pid = static_cast<unsigned>(ts_pid(p));
    h.transport_scrambling_control = (p[3] >> 6) & 3;
    h.adaptation_field_control = (p[3] >> 4) & 3;
    h.continuity_counter = p[3] & 0x0F;
    return h;
}

namespace {

std::uint64_t read_clock(const std::uint8_t* c) {
    std::uint64_t base = (static_cast<std::uint64_t>(c[0]) << 25) | (static_cast<std::uint64_t>(c[1]) << 17) |
                         (static_cast<std::uint64_t>(c[2]) << 9) | (static_cast<std::uint64_t>(c[3]) << 1) |
                         (c[4] >> 7);
    std::uint64_t ext = (static_cast<std::uint64_t>(c[4] & 1) << 8) | c[5];
    return (base << 9) | ext;
}

}  // namespace

AdaptationField parse_adaptation_field(const std::uint8_t* p) {
    AdaptationField af;
    const unsigned length = p[4];
    if (length == 0 || length > 183) return af;
    const unsigned end = 4 + 1 + length;  // one past the field's last byte
    unsigned pos = 5;                     // flag byte
    if (pos >= end) return af;
    af.length = length;
    const std::uint8_t flags = p[pos++];
    af.discontinuity_indicator = (flags >> 7) & 1;
    af.random_access_indicator = (flags >> 6) & 1;
    af.es_priority_indicator = (flags >> 5) & 1;
    af.pcr_flag = (flags >> 4) & 1;
    af.opcr_flag = (flags >> 3) & 1;
    af.splicing_point_flag = (flags >> 2) & 1;
    af.transport_private_data_flag = (flags >> 1) & 1;
    af.adaptation_field_extension_flag = flags & 1;
    auto fail = [&af]() {
        af = AdaptationField{};
        return af;
    };
    if (af.pcr_flag) {
        if (pos + 6 > end) return fail();
        af.pcr = read_clock(p + pos);
        pos += 6;
    }
    if (af.opcr_flag) {
        if (pos + 6 > end) return fail();
        af.opcr = read_clock(p + pos);
        pos += 6;
    }
    if (af.splicing_point_flag) {
        if (pos + 1 > end) return fail();
        af.splice_countdown = p[pos++];
    }
    if (af.transport_private_data_flag) {
        if (pos + 1 > end) return fail();
        af.transport_private_data_length = p[pos++];
        if (pos + af.transport_private_data_length > end) return fail();
        pos += af.transport_private_data_length;
    }
    if (af.adaptation_field_extension_flag) {
        if (pos + 2 > end) return fail();
        af.extension_length = p[pos++];
        const unsigned ext_end = pos + af.extension_length;
        if (ext_end > end) return fail();
        const std::uint8_t ext_flags = p[pos++];
        af.ltw_flag = (ext_flags >> 7) & 1;
        af.piecewise_rate_flag = (ext_flags >> 6) & 1;
        af.seamless_splice_flag = (ext_flags >> 5) & 1;
        if (af.ltw_flag) {
            if (pos + 2 > ext_end) return fail();
            af.ltw_valid_flag = (p[pos] >> 7) & 1;
            af.ltw_offset = ((p[pos] & 0x7Fu) << 8) | p[pos + 1];
            pos += 2;
        }
        if (af.piecewise_rate_flag) {
            if (pos + 3 > ext_end) return fail();
            af.piecewise_rate = ((p[pos] & 0x3Fu) << 16) | (static_cast<unsigned>(p[pos + 1]) << 8) | p[pos + 2];
            pos += 3;
        }
        if (af.seamless_splice_flag) {
            if (pos + 5 > ext_end) return fail();
            af.splice_type = (p[pos] >> 4) & 0x0F;
            af.dts_next_au = (static_cast<std::uint64_t>((p[pos] >> 1) & 0x07) << 30) |
                             (static_cast<std::uint64_t>(p[pos + 1]) << 22) |
                             (static_cast<std::uint64_t>(p[pos + 2] >> 1) << 15) |
                             (static_cast<std::uint64_t>(p[pos + 3]) << 7) | (p[pos + 4] >> 1);
            pos += 5;
        }
    }
    return af;
}

int select_unit_size(const std::uint8_t* begin, const std::uint8_t* end) {
    std::array<int, kMaxUnitSize + 1> counter{};
    const long length = end - begin;
    long p = 0;
    while (p < length && begin[p] != kSyncByte) ++p;
    if (p == length) return 0;
    for (long q = p + 1; q < length; ++q) {
        if (begin[q] != kSyncByte) continue;
        const long distance = q - p;
        if (distance >= kMinUnitSize) {
            if (distance <= kMaxUnitSize) ++counter[static_cast<std::size_t>(distance)];
            p = q;
            continue;
        }
        // Closer than a packet: measure from the nearest sync byte at least 188 bytes back.
        long r = q - kMinUnitSize;
        while (r >= 0 && begin[r] != kSyncByte) --r;
        if (r >= 0 && q - r <= kMaxUnitSize) {
            ++counter[static_cast<std::size_t>(q - r)];
            p = q;
        }
    }
    int best = 0, best_size = 0;
    for (int b = kMinUnitSize; b <= kMaxUnitSize; ++b) {
        if (counter[static_cast<std::size_t>(b)] > best) {
            best = counter[static_cast<std::size_t>(b)];
            best_size = b;
        }
    }
    const long long covered = static_cast<long long>(best) * best_size;
    if (best < 8 || covered < length - covered / 8) return 0;
    return best_size;
}

const std::uint8_t* find_sync(const std::uint8_t* from, const std::uint8_t* end, int unit_size) {
    const long span = 8L * unit_size;
    for (const std::uint8_t* p = from; end - p > span; ++p) {
        int k = 0;
        while (k < 8 && p[static_cast<long>(k) * unit_size] == kSyncByte) ++k;
        if (k == 8) return p;
    }
    return nullptr;
}

const std::uint8_t* find_sync_tail(const std::uint8_t* from, const std::uint8_t* end, int unit_size) {
    for (const std::uint8_t* p = from; end - p > kPacketSize; ++p) {
        if (*p != kSyncByte) continue;
        const long n = (end - p) / unit_size;
        long k = 1;
        while (k < n && p[k * unit_size] == kSyncByte) ++k;
        if (n == 0 || k >= n) return p;
    }
    return nullptr;
}

namespace {

// Entry i is the register after shifting byte i, placed in the top 8 bits, through 8 steps.
constexpr std::array<std::uint32_t, 256> make_crc_table() {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i << 24;
        for (int b = 0; b < 8; ++b) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
        t[i] = r;
    }
    return t;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = make_crc_table();

}  // namespace

std::uint32_t crc32_mpeg2(const std::uint8_t* first, const std::uint8_t* end) {
    std::uint32_t r = 0xFFFFFFFFu;
    for (const std::uint8_t* p = first; p < end; ++p) r = (r << 8) ^ kCrcTable[((r >> 24) ^ *p) & 0xFF];
    return r;
}

void build_pat_packet(const std::uint8_t* header_template, int service_id, int pmt_pid, std::uint8_t* out) {
    std::memset(out, 0xFF, kPacketSize);
    std::memcpy(out, header_template, 13);
    out[6] = 0xB0;
    out[7] = 0x11;  // section_length 17: header 5, two programmes, CRC
    out[13] = 0x00;
    out[14] = 0x00;  // program_number 0: the network PID
    out[15] = 0xE0;
    out[16] = 0x10;
    out[17] = static_cast<std::uint8_t>((service_id >> 8) & 0xFF);
    out[18] = static_cast<std::uint8_t>(service_id & 0xFF);
    out[19] = static_cast<std::uint8_t>(0xE0 | ((pmt_pid >> 8) & 0x1F));
    out[20] = static_cast<std::uint8_t>(pmt_pid & 0xFF);
    const std::uint32_t crc = crc32_mpeg2(out + 5, out + 21);
    out[21] = static_cast<std::uint8_t>(crc >> 24);
    out[22] = static_cast<std::uint8_t>(crc >> 16);
    out[23] = static_cast<std::uint8_t>(crc >> 8);
    out[24] = static_cast<std::uint8_t>(crc);
}

}  // namespace quill
