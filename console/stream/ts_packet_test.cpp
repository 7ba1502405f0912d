#include "stream/ts_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quill {
namespace {

std::vector<std::uint8_t> units(int count, int unit_size, int prefix) {
    std::vector<std::uint8_t> b(static_cast<std::size_t>(count * unit_size), 0x00);
    for (int i = 0; i < count; ++i) b[static_cast<std::size_t>(i * unit_size + prefix)] = kSyncByte;
    return b;
}

TEST(UnitSizeTest, FindsCommonUnitSizes) {
    for (int size : {188, 192, 204, 319}) {
        auto b = units(40, size, size == 192 ? 4 : 0);
        EXPECT_EQ(select_unit_size(b.data(), b.data() + b.size()), size) << size;
    }
}

TEST(UnitSizeTest, RefusesTooFewOrTooSparseSyncBytes) {
    auto few = units(8, 188, 0);  // 7 distances only
    EXPECT_EQ(select_unit_size(few.data(), few.data() + few.size()), 0);
    auto nine = units(9, 188, 0);
    EXPECT_EQ(select_unit_size(nine.data(), nine.data() + nine.size()), 188);
    // Nine packets then a long stretch without sync: they cover too little of the buffer.
    auto sparse = units(9, 188, 0);
    sparse.resize(8192, 0x00);
    EXPECT_EQ(select_unit_size(sparse.data(), sparse.data() + sparse.size()), 0);
    std::vector<std::uint8_t> none(8192, 0x00);
    EXPECT_EQ(select_unit_size(none.data(), none.data() + none.size()), 0);
}

TEST(UnitSizeTest, EqualCountsChooseTheSmallerSize) {
    // 192-byte units whose 4-byte prefix starts with 0x47: the distances 188 (prefix to next
    // packet) and 192 (through the backward search) are counted equally often; 188 wins.
    std::vector<std::uint8_t> b(40 * 192, 0x00);
    for (int i = 0; i < 40; ++i) {
        b[static_cast<std::size_t>(i * 192)] = kSyncByte;
        b[static_cast<std::size_t>(i * 192 + 4)] = kSyncByte;
    }
    b[0] = 0x00;  // start at the first packet, so both distances count 39 times
    EXPECT_EQ(select_unit_size(b.data(), b.data() + b.size()), 188);
}

TEST(UnitSizeTest, StraySyncBytesInsidePacketsStillCount) {
    auto b = units(43, 188, 0);
    for (int i = 0; i < 43; i += 3) b[static_cast<std::size_t>(i * 188 + 100)] = kSyncByte;  // a 0x47 in the payload
    EXPECT_EQ(select_unit_size(b.data(), b.data() + b.size()), 188);
}

TEST(SyncTest, FindSyncNeedsEightUnits) {
    auto b = units(12, 188, 0);
    std::vector<std::uint8_t> buf(50, 0x00);
    buf[10] = kSyncByte;  // a lone sync byte is not enough
    buf.insert(buf.end(), b.begin(), b.end());
    const std::uint8_t* p = find_sync(buf.data(), buf.data() + buf.size(), 188);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p - buf.data(), 50);
    // Fewer than 8 units behind the position, plus one byte: nothing.
    auto seven = units(8, 188, 0);
    EXPECT_EQ(find_sync(seven.data(), seven.data() + seven.size(), 188), nullptr);
    seven.push_back(0);
    EXPECT_EQ(find_sync(seven.data(), seven.data() + seven.size(), 188), seven.data());
}

TEST(SyncTest, FindSyncTailChecksEveryRemainingUnit) {
    auto b = units(3, 192, 0);
    b.insert(b.begin(), 7, 0x00);
    const std::uint8_t* p = find_sync_tail(b.data(), b.data() + b.size(), 192);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p - b.data(), 7);
    b[7 + 192] = 0x00;  // the second unit lost its sync byte
    p = find_sync_tail(b.data(), b.data() + b.size(), 192);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p - b.data(), 7 + 2 * 192);  // only the last unit is left
    std::vector<std::uint8_t> short_tail(188, 0x00);
    short_tail[0] = kSyncByte;  // not below end - 188
    EXPECT_EQ(find_sync_tail(short_tail.data(), short_tail.data() + short_tail.size(), 188), nullptr);
}

TEST(HeaderTest, ParsesEveryField) {
    const std::uint8_t p[4] = {0x47, 0xE1, 0x23, 0x9A};
    TsHeader h = parse_ts_header(p);
    EXPECT_EQ(h.sync_byte, 0x47u);
    EXPECT_EQ(h.transport_error_indicator, 1u);
    EXPECT_EQ(h.payload_unit_start_indicator, 1u);
    EXPECT_EQ(h.transport_priority, 1u);
    EXPECT_EQ(h.pid, 0x0123u);
    EXPECT_EQ(h.transport_scrambling_control, 2u);
    EXPECT_EQ(h.adaptation_field_control, 1u);
    EXPECT_EQ(h.continuity_counter, 10u);
}

TEST(AdaptationFieldTest, ReadsPcrAndRejectsFieldsThatDoNotFit) {
    std::uint8_t p[188] = {0x47, 0x01, 0x00, 0x30, 7, 0x10};
    // PCR base 0x1_2345_6789 (33 bits), extension 0x1AB.
    const std::uint64_t base = 0x123456789ull, ext = 0x1AB;
    p[6] = static_cast<std::uint8_t>(base >> 25);
    p[7] = static_cast<std::uint8_t>(base >> 17);
    p[8] = static_cast<std::uint8_t>(base >> 9);
    p[9] = static_cast<std::uint8_t>(base >> 1);
    p[10] = static_cast<std::uint8_t>(((base & 1) << 7) | 0x7E | (ext >> 8));
    p[11] = static_cast<std::uint8_t>(ext);
    AdaptationField af = parse_adaptation_field(p);
    EXPECT_EQ(af.length, 7u);
    EXPECT_EQ(af.pcr_flag, 1u);
    EXPECT_EQ(af.pcr, (base << 9) | ext);

    p[4] = 6;  // the PCR no longer fits
    EXPECT_EQ(parse_adaptation_field(p).pcr_flag, 0u);
    p[4] = 184;
    EXPECT_EQ(parse_adaptation_field(p).length, 0u);
    p[4] = 0;
    EXPECT_EQ(parse_adaptation_field(p).length, 0u);
    // Private data claiming more bytes than the field holds.
    std::uint8_t q[188] = {0x47, 0x01, 0x00, 0x30, 4, 0x02, 10, 0, 0};
    EXPECT_EQ(parse_adaptation_field(q).transport_private_data_flag, 0u);
    // Extension with ltw and piecewise rate; seamless splice does not fit in its length.
    std::uint8_t r[188] = {0x47, 0x01, 0x00, 0x30, 9, 0x01, 6, 0xE0, 0x81, 0x23, 0x12, 0x34, 0x56, 0, 0};
    AdaptationField e = parse_adaptation_field(r);
    EXPECT_EQ(e.adaptation_field_extension_flag, 0u);
    r[6] = 6;
    r[7] = 0xC0;
    e = parse_adaptation_field(r);
    EXPECT_EQ(e.ltw_valid_flag, 1u);
    EXPECT_EQ(e.ltw_offset, 0x0123u);
    EXPECT_EQ(e.piecewise_rate, 0x123456u);
}

TEST(CrcTest, KnownValue) {
    const char* s = "123456789";
    const auto* b = reinterpret_cast<const std::uint8_t*>(s);
    EXPECT_EQ(crc32_mpeg2(b, b + 9), 0x0376E6E7u);
}

TEST(PatTest, GeneratedPatNamesNetworkAndOneService) {
    std::uint8_t tmpl[13] = {0x47, 0x40, 0x00, 0x17, 0x00, 0x00, 0xB0, 0x25, 0x7F, 0xE8, 0xC3, 0x00, 0x00};
    std::uint8_t pat[188];
    build_pat_packet(tmpl, 0x0400, 0x01F0, pat);
    EXPECT_EQ(std::memcmp(pat, tmpl, 6), 0);
    EXPECT_EQ(pat[3], 0x17);  // continuity counter of the template
    EXPECT_EQ(section_length(pat), 17);
    const std::uint8_t entries[] = {0x00, 0x00, 0xE0, 0x10, 0x04, 0x00, 0xE1, 0xF0};
    EXPECT_EQ(std::memcmp(pat + 13, entries, 8), 0);
    // The CRC over the section including its CRC is 0 for a correct section.
    EXPECT_EQ(crc32_mpeg2(pat + 5, pat + 25), 0u);
    for (int i = 25; i < 188; ++i) ASSERT_EQ(pat[i], 0xFF) << i;
}

}  // namespace
}  // namespace quill
