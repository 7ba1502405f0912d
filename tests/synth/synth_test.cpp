// Tests of the synthesizer itself: the byte layouts the program under test
// reads at fixed offsets, continuity counters, unit sizes, damage and the
// streaming path.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <set>

#include "synth.h"

using namespace synth;

namespace {

uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint16_t pid13(const uint8_t* p) { return uint16_t((p[0] & 0x1F) << 8 | p[1]); }

// Continuity as ISO/IEC 13818-1 wants it: +1 mod 16 per payload packet,
// unchanged on adaptation-only packets. Returns the first offending index.
std::optional<size_t> first_continuity_fault(const std::vector<Packet>& ps) {
    std::map<uint16_t, int> last;
    for (size_t i = 0; i < ps.size(); ++i) {
        uint16_t pid = pid_of(ps[i]);
        if (pid == kPidNull) continue;
        int cc = cc_of(ps[i]);
        auto it = last.find(pid);
        if (it != last.end()) {
            int want = (afc_of(ps[i]) & 1) ? (it->second + 1) % 16 : it->second;
            if (cc != want) return i;
        }
        last[pid] = cc;
    }
    return std::nullopt;
}

// Reassembles the payloads of one PID from a unit start on.
Bytes payload_run(const std::vector<Packet>& ps, size_t first) {
    Bytes out;
    uint16_t pid = pid_of(ps[first]);
    for (size_t i = first; i < ps.size(); ++i) {
        if (pid_of(ps[i]) != pid) continue;
        if (i != first && pusi_of(ps[i])) break;
        size_t o = payload_offset(ps[i]);
        out.insert(out.end(), ps[i].begin() + long(o), ps[i].end());
    }
    return out;
}

}  // namespace

TEST(Crc, CheckValueAndSectionResidue) {
    const char* s = "123456789";
    EXPECT_EQ(crc32_mpeg2(reinterpret_cast<const uint8_t*>(s), 9), 0x0376E6E7u);
    EXPECT_EQ(crc32_mpeg2(nullptr, 0), 0xFFFFFFFFu);
    // A section with its CRC_32 appended has a CRC of 0 over everything.
    Bytes pat = pat_section(0x7FE8, {{0, 0x10}, {0x0400, 0x01F0}});
    EXPECT_EQ(crc32_mpeg2(pat), 0u);
    pat[9] ^= 1;
    EXPECT_NE(crc32_mpeg2(pat), 0u);
}

TEST(Time, MjdAndBcd) {
    // ETSI EN 300 468 Annex C example: 1993-10-13 is MJD 49273 (0xC079).
    EXPECT_EQ(mjd(1993, 10, 13), 49273);
    EXPECT_EQ(mjd(2000, 1, 1), 51544);
    EXPECT_EQ(mjd(2024, 3, 1) - mjd(2024, 2, 28), 2);  // leap year
    auto t = mjd_bcd({2024, 4, 1, 23, 59, 59});
    EXPECT_EQ(be16(t.data()), mjd(2024, 4, 1));
    EXPECT_EQ(t[2], 0x23);
    EXPECT_EQ(t[3], 0x59);
    EXPECT_EQ(t[4], 0x59);
    JstTime n = add_seconds({2023, 12, 31, 23, 59, 58}, 3);
    EXPECT_EQ(n.year, 2024);
    EXPECT_EQ(n.month, 1);
    EXPECT_EQ(n.day, 1);
    EXPECT_EQ(n.second, 1);
}

// Every table the program reads sits at byte 5 of one packet; these tests read
// the fields at the offsets the program uses, not through the synthesizer.
TEST(Sections, PatAndCatAtProgramOffsets) {
    Mux mux;
    mux.pat(0x7FE8, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0580, 0x1FC8}}, 3);
    mux.cat({0x0902, 0x0903});
    const Packet& p = mux.packets[0];
    EXPECT_EQ(p[0], 0x47);
    EXPECT_TRUE(pusi_of(p));
    EXPECT_EQ(afc_of(p), 1);
    EXPECT_EQ(p[4], 0);     // pointer_field
    EXPECT_EQ(p[5], 0x00);  // table_id
    size_t section_length = size_t((p[6] & 0x0F) << 8 | p[7]);
    EXPECT_EQ(section_length, 5u + 12 + 4);
    EXPECT_EQ(be16(&p[8]), 0x7FE8);
    EXPECT_EQ((p[10] >> 1) & 0x1F, 3);
    EXPECT_EQ(be16(&p[17]), 0x0400);
    EXPECT_EQ(pid13(&p[19]), 0x01F0);
    EXPECT_EQ(be16(&p[21]), 0x0580);
    EXPECT_EQ(pid13(&p[23]), 0x1FC8);
    EXPECT_EQ(crc32_mpeg2(p.data() + 5, section_length + 3), 0u);
    EXPECT_EQ(p[8 + section_length], 0xFF);  // stuffing after the section

    const Packet& c = mux.packets[1];
    EXPECT_EQ(pid_of(c), kPidCat);
    EXPECT_EQ(c[5], 0x01);
    ASSERT_EQ(c[13], 0x09);
    EXPECT_EQ(pid13(&c[13 + 4]), 0x0902);
    EXPECT_EQ(pid13(&c[13 + 6 + 4]), 0x0903);
    auto v = read_section(c);
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->crc_ok);
}

TEST(Sections, PmtDescriptorsAtProgramOffsets) {
    Service s{.service_id = 0x0400, .pmt_pid = 0x01F0, .pcr_pid = 0x01FF, .version = 7,
              .program_descriptors = ca_descriptor(0x0901),
              .streams = {{0x02, 0x0111, hierarchical_descriptor(true, 0x0115)},
                          {0x02, 0x0115, hierarchical_descriptor(false, 0x0111)},
                          {0x0F, 0x0112, ca_descriptor(0x0905)},
                          {0x0D, 0x0140, {}}}};
    Mux mux;
    mux.pmt(s);
    const Packet& p = mux.packets[0];
    EXPECT_EQ(pid_of(p), 0x01F0);
    EXPECT_EQ(p[5], 0x02);
    EXPECT_EQ(be16(&p[8]), 0x0400);
    EXPECT_EQ((p[10] >> 1) & 0x1F, 7);
    EXPECT_EQ(pid13(&p[13]), 0x01FF);
    size_t pil = size_t((p[15] & 0x0F) << 8 | p[16]);
    ASSERT_EQ(pil, 6u);
    EXPECT_EQ(p[17], 0x09);
    EXPECT_EQ(pid13(&p[17 + 4]), 0x0901);
    size_t end = 4 + size_t((p[6] & 0x0F) << 8 | p[7]);  // first CRC byte
    struct Es { uint8_t type; uint16_t pid; Bytes desc; };
    std::vector<Es> es;
    for (size_t o = 17 + pil; o + 5 <= end;) {
        size_t len = size_t((p[o + 3] & 0x0F) << 8 | p[o + 4]);
        es.push_back({p[o], pid13(&p[o + 1]), Bytes(p.begin() + long(o + 5), p.begin() + long(o + 5 + len))});
        o += 5 + len;
    }
    ASSERT_EQ(es.size(), 4u);
    EXPECT_EQ(es[0].pid, 0x0111);
    // 0xC0: quality bit is bit 0 of descriptor byte 2, reference PID in bytes 3-4.
    ASSERT_EQ(es[0].desc[0], 0xC0);
    EXPECT_EQ(es[0].desc[2] & 1, 1);
    EXPECT_EQ(es[1].desc[2] & 1, 0);
    EXPECT_EQ(pid13(&es[1].desc[3]), 0x0111);
    EXPECT_EQ(es[2].desc[0], 0x09);
    EXPECT_EQ(pid13(&es[2].desc[4]), 0x0905);
    EXPECT_EQ(es[3].type, 0x0D);
    EXPECT_EQ(crc32_mpeg2(p.data() + 5, end + 4 - 5), 0u);
}

TEST(Sections, EitTotTdtAtProgramOffsets) {
    Mux mux;
    EitPf e{.actual = false, .service_id = 0x0401, .transport_stream_id = 0x7FE8, .section_number = 1,
            .event_id = 0xBEEF, .start = {2024, 4, 1, 21, 30, 0}, .duration_seconds = 5400};
    mux.eit(e);
    mux.tot({2024, 4, 1, 23, 59, 59});
    mux.tot({2024, 4, 1, 1, 2, 3}, true);
    const Packet& p = mux.packets[0];
    EXPECT_EQ(p[5], 0x4F);
    EXPECT_EQ(be16(&p[8]), 0x0401);
    EXPECT_EQ(p[11], 1);
    EXPECT_EQ(be16(&p[19]), 0xBEEF);
    EXPECT_EQ(p[24], 0x30);                             // start minutes (BCD)
    EXPECT_EQ(p[26], 0x01);                             // duration 01:30:00
    EXPECT_EQ(p[27], 0x30);
    EXPECT_TRUE(read_section(p)->crc_ok);
    const Packet& t = mux.packets[1];
    EXPECT_EQ(t[5], 0x73);
    EXPECT_EQ(be16(&t[8]), mjd(2024, 4, 1));
    EXPECT_EQ(t[10], 0x23);
    EXPECT_EQ(t[11], 0x59);
    EXPECT_EQ(t[12], 0x59);
    size_t len = size_t((t[6] & 0x0F) << 8 | t[7]);
    EXPECT_EQ(crc32_mpeg2(t.data() + 5, 3 + len), 0u);
    const Packet& d = mux.packets[2];
    EXPECT_EQ(d[5], 0x70);
    EXPECT_EQ(d[7], 5);
    EXPECT_EQ(d[10], 0x01);
    EXPECT_EQ(d[12], 0x03);
}

TEST(Sections, LongSectionContinuesInFollowingPackets) {
    Bytes body(400);
    for (size_t i = 0; i < body.size(); ++i) body[i] = uint8_t(i);
    Bytes s = long_section(0x42, 1, 0, 0, 0, body, true);
    Mux mux;
    mux.section(kPidSdt, s);
    ASSERT_EQ(mux.packets.size(), 3u);  // 183 + 184 + rest
    EXPECT_TRUE(pusi_of(mux.packets[0]));
    EXPECT_FALSE(pusi_of(mux.packets[1]));
    Bytes back(mux.packets[0].begin() + 5, mux.packets[0].end());
    back.insert(back.end(), mux.packets[1].begin() + 4, mux.packets[1].end());
    back.insert(back.end(), mux.packets[2].begin() + 4, mux.packets[2].end());
    back.resize(s.size());
    EXPECT_EQ(back, s);
}

TEST(Packets, ContinuityCountersWrapAndAdaptationOnlyKeepsThem) {
    Mux mux;
    for (int i = 0; i < 20; ++i) mux.filler(0x0100);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(cc_of(mux.packets[size_t(i)]), i);
    EXPECT_EQ(cc_of(mux.packets[16]), 0);
    EXPECT_EQ(cc_of(mux.packets[19]), 3);
    mux.pcr(0x0100, 12345);          // no payload: counter not advanced
    EXPECT_EQ(cc_of(mux.packets[20]), 3);
    mux.filler(0x0200);              // PIDs count on their own
    EXPECT_EQ(cc_of(mux.packets[21]), 0);
    mux.filler(0x0100);
    EXPECT_EQ(cc_of(mux.packets[22]), 4);
    EXPECT_FALSE(first_continuity_fault(mux.packets));

    // Deliberate faults for statistics tests.
    mux.skip_cc(0x0100);
    mux.filler(0x0100);
    EXPECT_EQ(cc_of(mux.packets[23]), 6);
    mux.duplicate_last(0x0100);
    EXPECT_EQ(mux.packets[24], mux.packets[23]);
    EXPECT_EQ(first_continuity_fault(mux.packets), size_t(23));
}

TEST(Packets, HeaderFlagsAndAdaptationField) {
    Mux mux;
    mux.packet({.pid = 0x0123, .transport_error = true, .scrambling = 3, .payload = Bytes(184, 0x11)});
    mux.pcr(0x01FF, 0x1ABCDEF01ull, 299, true);
    mux.packet({.pid = 0x0124, .adaptation = Adaptation{.random_access = true}, .payload = Bytes(10, 0x22)});
    mux.null(2);
    const Packet& a = mux.packets[0];
    EXPECT_TRUE(tei_of(a));
    EXPECT_EQ(scrambling_of(a), 3);
    EXPECT_EQ(pid_of(a), 0x0123);
    EXPECT_NE(a[4], 0x11);  // scrambled payload no longer shows the clear bytes

    const Packet& pcr = mux.packets[1];
    EXPECT_EQ(afc_of(pcr), 2);
    EXPECT_EQ(pcr[4], 183);
    EXPECT_EQ(pcr[5], 0x90);  // discontinuity + PCR_flag
    EXPECT_EQ(*pcr_base_of(pcr), 0x1ABCDEF01ull);
    EXPECT_EQ(((pcr[10] & 1) << 8) | pcr[11], 299);

    const Packet& short_payload = mux.packets[2];
    EXPECT_EQ(afc_of(short_payload), 3);
    EXPECT_EQ(short_payload[5] & 0x40, 0x40);
    EXPECT_EQ(payload_offset(short_payload), 188u - 10);
    EXPECT_EQ(short_payload[187], 0x22);

    EXPECT_EQ(pid_of(mux.packets[3]), kPidNull);
    EXPECT_EQ(mux.packets[4][100], 0xFF);
}

TEST(Pes, SplitOverPacketsAndReadBack) {
    for (size_t es_size : {1u, 170u, 184u, 1000u, 5000u}) {
        SCOPED_TRACE(es_size);
        Bytes es(es_size, 0x5A);
        Bytes pes = pes_packet(0xE0, es, 0x123456789ull, 0x123450000ull, true);
        Mux mux;
        mux.pes(0x0111, pes, Adaptation{.pcr_base = 777});
        EXPECT_EQ(payload_run(mux.packets, 0), pes);
        EXPECT_TRUE(pusi_of(mux.packets[0]));
        if (mux.packets.size() > 1) {
            EXPECT_EQ(mux.packets[0][4], 7);  // PCR alone: length 7, flags 0x10
        }
        EXPECT_EQ(mux.packets[0][5], 0x10);
        for (size_t i = 1; i < mux.packets.size(); ++i) EXPECT_FALSE(pusi_of(mux.packets[i]));
        EXPECT_EQ(*pes_pts_of(mux.packets[0]), 0x123456789ull);
        EXPECT_FALSE(first_continuity_fault(mux.packets));
    }
    // PTS and DTS fields of ISO/IEC 13818-1, read as the program does.
    Bytes pes = pes_packet(0xC0, Bytes(10), 0x1FFFFFFFFull, std::nullopt);
    EXPECT_EQ(pes[7] >> 6, 2);
    EXPECT_EQ(pes[8], 5);
    EXPECT_EQ(be16(&pes[4]), 3 + 5 + 10);
    uint64_t pts = uint64_t(pes[9] & 0x0E) << 29 | uint64_t(pes[10]) << 22 | uint64_t(pes[11] & 0xFE) << 14 |
                   uint64_t(pes[12]) << 7 | uint64_t(pes[13] >> 1);
    EXPECT_EQ(pts, 0x1FFFFFFFFull);
    EXPECT_EQ(pes[9] & 0xF1, 0x21);  // '0010' prefix and marker
    Bytes both = pes_packet(0xE0, {}, 1, 2);
    EXPECT_EQ(both[9] >> 4, 3);
    EXPECT_EQ(both[14] >> 4, 1);
}

TEST(Video, StartCodesAsTheGopDetectionSeesThem) {
    VideoFrame i{.type = Picture::I, .pts = 900000, .dts = 897000, .closed_gop = true, .broken_link = true, .size = 6000};
    Mux mux;
    mux.pes_video(0x0111, i);
    const Packet& p = mux.packets[0];
    size_t start = payload_offset(p);
    // First start code prefix from PES start + 14 on must be the sequence header.
    size_t found = 0;
    for (size_t o = start + 14; o + 3 < kPacketSize; ++o) {
        if (p[o] == 0 && p[o + 1] == 0 && p[o + 2] == 1) { found = o; break; }
    }
    ASSERT_NE(found, 0u);
    EXPECT_EQ(p[found + 3], 0xB3);
    Bytes es = video_es(i);
    std::vector<uint8_t> codes;
    for (size_t o = 0; o + 3 < es.size(); ++o)
        if (es[o] == 0 && es[o + 1] == 0 && es[o + 2] == 1) codes.push_back(es[o + 3]);
    ASSERT_GE(codes.size(), 6u);
    EXPECT_EQ(codes[0], 0xB3);
    EXPECT_EQ(codes[1], 0xB5);
    EXPECT_EQ(codes[2], 0xB8);
    EXPECT_EQ(codes[3], 0x00);
    EXPECT_EQ(codes[4], 0xB5);
    size_t slices = es.size() / 1024;
    EXPECT_NEAR(double(codes.size() - 5), double(slices), 2.0);  // filler never forms a start code
    for (size_t c = 5; c < codes.size(); ++c) EXPECT_TRUE(codes[c] >= 0x01 && codes[c] <= 0xAF);
    // GOP header: closed_gop 0x40 and broken_link 0x20 in the byte 7 after 00 00 01 B8.
    size_t gop = 0;
    for (size_t o = 0; o + 3 < es.size(); ++o)
        if (es[o] == 0 && es[o + 1] == 0 && es[o + 2] == 1 && es[o + 3] == 0xB8) { gop = o; break; }
    EXPECT_EQ(es[gop + 7] & 0x60, 0x60);
    VideoFrame b{.type = Picture::B, .pts = 1, .sequence_header = false, .size = 500};
    Bytes bes = video_es(b);
    EXPECT_EQ(bes[3], 0x00);
    EXPECT_EQ((bes[5] >> 3) & 7, 3);  // picture_coding_type B
}

TEST(Audio, AdtsHeaderAsTheModeTrackingSeesIt) {
    for (uint8_t mode : {uint8_t(1), uint8_t(2), uint8_t(0)}) {
        SCOPED_TRACE(int(mode));
        Mux mux;
        mux.pes_audio(0x0112, {.pts = 1000, .channel_configuration = mode, .size = 700});
        const Packet& p = mux.packets[0];
        size_t s = payload_offset(p);
        size_t pes_len = be16(&p[s + 4]);
        const uint8_t* h = &p[s + 14];
        EXPECT_EQ(h[0], 0xFF);
        EXPECT_EQ(h[1], 0xF8);                     // MPEG-2, layer 0, CRC present
        EXPECT_EQ(h[2] >> 6, 1);                   // AAC LC
        EXPECT_EQ((h[2] >> 2) & 0xF, 3);           // 48 kHz
        EXPECT_EQ(((h[2] & 1) << 2) | (h[3] >> 6), mode);
        size_t frame_length = size_t((h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5);
        size_t fullness = size_t((h[5] & 0x1F) << 6 | h[6] >> 2);
        EXPECT_EQ(frame_length, 700u);
        EXPECT_LE(frame_length, pes_len);
        EXPECT_NE(fullness, 0x7FFu);
        EXPECT_LE(fullness, pes_len);
        EXPECT_EQ(h[6] & 3, 0);                    // one raw data block
        Bytes run = payload_run(mux.packets, 0);
        EXPECT_EQ(run.size(), 6 + pes_len);
        if (mode == 0) {
            EXPECT_EQ(h[9] >> 5, 5);  // raw data opens with a PCE
        }
        // No second syncword inside the frame.
        for (size_t o = 16; o + 1 < run.size(); ++o) EXPECT_FALSE(run[o] == 0xFF && (run[o + 1] & 0xF0) == 0xF0);
    }
    Bytes vbr = adts_frame({.mpeg2_id = false, .protection_absent = true, .buffer_fullness = 0x7FF});
    EXPECT_EQ(vbr[1], 0xF1);
    EXPECT_EQ(((vbr[5] & 0x1F) << 6) | (vbr[6] >> 2), 0x7FF);
}

TEST(Units, WrappingAndWriter) {
    Mux mux;
    mux.filler(0x0100, 0x47);
    mux.null(3);
    for (Unit u : {Unit::u188, Unit::u192, Unit::u204}) {
        SCOPED_TRACE(int(u));
        Bytes b = to_units(mux.packets, u);
        size_t n = size_t(u);
        ASSERT_EQ(b.size(), 4 * n);
        size_t lead = u == Unit::u192 ? 4 : 0;
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(b[i * n + lead], 0x47);
            EXPECT_TRUE(std::equal(mux.packets[i].begin(), mux.packets[i].end(), b.begin() + long(i * n + lead)));
            if (lead) {
                EXPECT_NE(b[i * n], 0x47);
            }
        }
        // The file writer writes the same bytes, and a garbage stretch at an
        // offset lands exactly where the in-memory insertion puts it.
        std::string path = ::testing::TempDir() + "synth_units.ts";
        {
            FileWriter w(path, u, 4096);
            w.insert_garbage_at(n + 5, 300, 42);
            for (const auto& p : mux.packets) w.put(p);
            ASSERT_TRUE(w.close());
        }
        insert_garbage(b, n + 5, 300, 42);
        std::FILE* f = std::fopen(path.c_str(), "rb");
        ASSERT_TRUE(f);
        Bytes back(b.size() + 10);
        back.resize(std::fread(back.data(), 1, back.size(), f));
        std::fclose(f);
        EXPECT_EQ(back, b);
        std::remove(path.c_str());
    }
}

TEST(Damage, GarbageTruncationFlips) {
    Bytes avoid = garbage(100000, 7, Sync::Avoid);
    EXPECT_EQ(std::count(avoid.begin(), avoid.end(), 0x47), 0);
    EXPECT_EQ(garbage(1000, 7), garbage(1000, 7));
    EXPECT_NE(garbage(1000, 7), garbage(1000, 8));
    Bytes stray = garbage(100000, 7, Sync::Stray);
    EXPECT_GT(std::count(stray.begin(), stray.end(), 0x47), 500);
    // Stray sync bytes never line up 8 in a row at a plausible unit spacing.
    for (size_t unit = 188; unit < 320; ++unit) {
        for (size_t o = 0; o + 8 * unit < stray.size(); ++o) {
            bool all = true;
            for (size_t k = 0; k < 8 && all; ++k) all = stray[o + k * unit] == 0x47;
            ASSERT_FALSE(all) << unit << " " << o;
        }
    }
    Mux mux;
    for (int i = 0; i < 10; ++i) mux.filler(0x0100, uint8_t(i + 1));
    Bytes b = to_units(mux.packets);
    Bytes orig = b;
    insert_garbage(b, 3 * 188 + 17, 1000, 1);
    EXPECT_EQ(b.size(), orig.size() + 1000);
    EXPECT_TRUE(std::equal(orig.begin() + 4 * 188, orig.end(), b.end() - 6 * 188));  // later packets intact
    overwrite_garbage(b, 0, 188, 2);
    EXPECT_EQ(b.size(), orig.size() + 1000);
    truncate(b, 500);
    EXPECT_EQ(b.size(), 500u);
    flip_bit(b, 499, 7);
    EXPECT_EQ(b[499], uint8_t(orig[499] ^ 0x80));
}

// Scenarios: structure the tests of the program rely on.
TEST(Scenarios, TerrestrialHdStructureAndRates) {
    auto ps = hd({.seconds = 2.0});
    ASSERT_FALSE(ps.empty());
    EXPECT_EQ(pid_of(ps[0]), kPidPat);
    auto pat = read_section(ps[0]);
    ASSERT_TRUE(pat && pat->crc_ok);
    EXPECT_EQ(pat->table_id_extension, 0x7FE8);
    ASSERT_EQ(pat->body.size(), 5u * 4);
    EXPECT_EQ(be16(&pat->body[4]), 0x0400);
    EXPECT_EQ(pid13(&pat->body[6]), 0x01F0);
    EXPECT_EQ(pid13(&pat->body[18]), 0x1FC8);
    EXPECT_FALSE(first_continuity_fault(ps));

    std::map<uint16_t, size_t> count;
    for (const auto& p : ps) ++count[pid_of(p)];
    double secs = double(ps.size()) * 188 * 8 / 16.85e6;
    EXPECT_NEAR(secs, 2.0, 0.01);
    EXPECT_NEAR(double(count[kPidPat]) / secs, 10.0, 1.5);
    EXPECT_NEAR(double(count[0x01F1]) / secs, 10.0, 1.5);
    EXPECT_NEAR(double(count[kPidOneSeg1]) / secs, 10.0, 1.5);
    EXPECT_NEAR(double(count[0x01FF]) / secs, 25.0, 3.0);
    EXPECT_GE(count[kPidTot], 1u);
    for (uint16_t pid : {kPidCat, kPidNit, kPidSdt, kPidEit, uint16_t(0x0901), uint16_t(0x0902), uint16_t(0x0140),
                         uint16_t(0x0112), uint16_t(0x0181), uint16_t(0x0183), kPidNull})
        EXPECT_GT(count[pid], 0u) << std::hex << pid;
    // Every audio frame, also the small one-segment ones, carries an ADTS header
    // that the mode tracking accepts: FF F8, LC, 48 kHz, one raw block, and
    // frame length and buffer fullness within PES_packet_length.
    for (uint16_t pid : {uint16_t(0x0112), uint16_t(0x0183)}) {
        for (size_t i : unit_starts(ps, pid)) {
            const uint8_t* s = &ps[i][payload_offset(ps[i])];
            size_t pes_len = be16(s + 4);
            const uint8_t* h = s + 14;
            ASSERT_EQ(h[0], 0xFF);
            ASSERT_EQ(h[1], 0xF8);
            ASSERT_EQ(h[2] & 0xFC, 0x4C);
            ASSERT_LE(size_t((h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5), pes_len);
            ASSERT_LE(size_t((h[5] & 0x1F) << 6 | h[6] >> 2), pes_len) << std::hex << pid;
            ASSERT_EQ(h[6] & 3, 0);
        }
    }
        // About 14 Mbit/s of video: the whole stream stays within a plausible HD rate.
    double video_mbps = double(count[0x0111]) * 184 * 8 / secs / 1e6;
    EXPECT_NEAR(video_mbps, 14.0, 1.5);
    EXPECT_LT(double(count[kPidNull]) / double(ps.size()), 0.2);

    // Every section on a table PID is a single-packet section at byte 5 with a good CRC.
    for (size_t i = 0; i < ps.size(); ++i) {
        uint16_t pid = pid_of(ps[i]);
        if (pid == kPidTot) {
            ASSERT_EQ(ps[i][5], 0x73);
            EXPECT_EQ(crc32_mpeg2(ps[i].data() + 5, 3 + ps[i][7]), 0u);
        }
        if (pid == kPidPat || pid == kPidCat || pid == kPidEit || pid == 0x01F0 || pid == kPidOneSeg1) {
            auto s = read_section(ps[i]);
            ASSERT_TRUE(s) << i;
            EXPECT_TRUE(s->crc_ok) << i;
        }
    }

    // PCR runs with the packet position; video PTS lies ahead of the clock.
    auto pcrs = indices_of(ps, 0x01FF);
    uint64_t a = *pcr_base_of(ps[pcrs[0]]), b = *pcr_base_of(ps[pcrs.back()]);
    double expect = double(pcrs.back() - pcrs[0]) * 188 * 8 / 16.85e6 * 90000;
    EXPECT_NEAR(double(b - a), expect, 2.0);
    for (size_t i : indices_of(ps, 0x0111)) {
        if (auto pts = pes_pts_of(ps[i])) {
            double clock = double(a) + double(i - pcrs[0]) * 188 * 8 / 16.85e6 * 90000;
            EXPECT_GT(double(*pts), clock);
            EXPECT_LT(double(*pts), clock + 90000);
        }
    }
}

TEST(Scenarios, SdBsCsAndHierarchicalTables) {
    auto first_section = [](const std::vector<Packet>& ps, uint16_t pid) {
        for (const auto& p : ps)
            if (pid_of(p) == pid && pusi_of(p)) return *read_section(p);
        return SectionView{};
    };
    auto sd = sd3({.packets = 20000});
    auto s1 = first_section(sd, 0x01F0), s2 = first_section(sd, 0x01F1), s3 = first_section(sd, 0x01F2);
    EXPECT_EQ(pid13(&s1.body[4 + 6 + 1]), 0x0111);  // first ES after 6-byte CA descriptor
    EXPECT_EQ(pid13(&s2.body[4 + 6 + 1]), 0x0121);
    EXPECT_EQ(pid13(&s3.body[4 + 6 + 1]), 0x0131);
    EXPECT_EQ(pid13(&s1.body[4 + 6 + 5 + 1]), 0x0112);
    EXPECT_EQ(pid13(&s2.body[4 + 6 + 5 + 1]), 0x0112);  // audio shared by SD1 and SD2
    EXPECT_GT(indices_of(sd, 0x0131).size(), 100u);
    EXPECT_FALSE(first_continuity_fault(sd));

    EXPECT_EQ(first_section(bs({.packets = 2000}), kPidPat).table_id_extension, 0x4010);
    auto c = cs({.packets = 5000});
    auto cpat = first_section(c, kPidPat);
    EXPECT_EQ(cpat.table_id_extension, 0x7040);
    EXPECT_EQ(be16(&cpat.body[4]), 211);
    EXPECT_EQ(be16(&cpat.body[12]), 213);
    // CS carries its PCR in the first packet of each video PES, PCR_PID = video PID.
    auto cpmt = first_section(c, 0x01F0);
    EXPECT_EQ(pid13(&cpmt.body[0]), 0x0111);
    size_t with_pcr = 0;
    for (size_t i : indices_of(c, 0x0111)) with_pcr += pcr_base_of(c[i]).has_value();
    EXPECT_GT(with_pcr, 5u);

    // A second one-segment PMT on 0x1FC9 describing the same streams: those
    // PIDs still carry one PES per frame.
    Multiplex two = hd_multiplex();
    add_oneseg(two, oneseg_service(0x0599, kPidOneSeg2));
    auto ts = generate(two, {.packets = 20000});
    double secs = 20000.0 * 188 * 8 / 16.85e6;
    EXPECT_NEAR(double(unit_starts(ts, 0x0181).size()), secs * 29.97, 2.0);
    EXPECT_NEAR(double(unit_starts(ts, 0x0183).size()), secs * 48000 / 1024, 2.0);
    EXPECT_EQ(pid13(&first_section(ts, kPidPat).body[22]), kPidOneSeg2);
    EXPECT_GT(unit_starts(ts, kPidOneSeg2).size(), 10u);

    auto h = hierarchical({.packets = 20000});
    auto hp = first_section(h, 0x01F0);
    size_t o = 4 + 6;  // ES loop
    EXPECT_EQ(pid13(&hp.body[o + 1]), 0x0111);
    o += 5 + 5;
    EXPECT_EQ(pid13(&hp.body[o + 1]), 0x0115);
    EXPECT_EQ(hp.body[o + 5], 0xC0);
    EXPECT_EQ(hp.body[o + 5 + 2] & 1, 0);
    EXPECT_GT(indices_of(h, 0x0115).size(), 10u);
}

TEST(Scenarios, TimedChanges) {
    // HD to SD: from the switch on the PMTs carry version 1 and the SD videos;
    // the changed PMTs go out right at the switch (the PAT stays the same).
    const uint64_t sw = 15000;
    auto ps = hd_to_sd(sw, {.packets = 30000});
    EXPECT_FALSE(first_continuity_fault(ps));
    for (size_t i = 0; i < ps.size(); ++i) {
        uint16_t pid = pid_of(ps[i]);
        if (pid == 0x0121 || pid == 0x0131) {
            EXPECT_GE(i, sw);
        }
        if (pid == 0x01F1) {
            EXPECT_EQ(read_section(ps[i])->version, i < sw ? 0 : 1) << i;
        }
    }
    EXPECT_EQ(pid_of(ps[sw]), 0x01F0);
    EXPECT_EQ(pid_of(ps[sw + 1]), 0x01F1);
    EXPECT_EQ(pid_of(ps[sw + 2]), 0x01F2);
    // The video of the old HD service is not cut off mid-PES.
    auto last_hd_start = indices_of(ps, 0x0111);
    EXPECT_GT(last_hd_start.back(), sw);

    // Programme change: the EIT of the new event goes out at the change.
    auto ev = generate(hd_multiplex(), {.packets = 20000}, {event_change(10000, 0x0400, 0x5555)});
    size_t first_new = 0;
    for (size_t i : indices_of(ev, kPidEit)) {
        if (ev[i][11] != 0 || be16(&ev[i][8]) != 0x0400) continue;
        uint16_t id = be16(&ev[i][19]);
        if (i < 10000) {
            EXPECT_NE(id, 0x5555);
        } else if (!first_new) {
            first_new = i;
            EXPECT_EQ(id, 0x5555);
        }
    }
    EXPECT_GE(first_new, 10000u);
    EXPECT_LT(first_new, 10010u);

    // PMT version with a new video PID in every service sharing it.
    auto pv = generate(hd_multiplex(), {.packets = 20000}, {pmt_version_change(10000, 0x0400, uint16_t(0x0211))});
    for (size_t i : indices_of(pv, 0x0211)) EXPECT_GE(i, 10000u);
    EXPECT_GT(indices_of(pv, 0x0211).size(), 100u);
    for (size_t i : indices_of(pv, 0x01F2)) EXPECT_EQ(read_section(pv[i])->version, i < 10000 ? 0 : 1);

    // Audio mode: dual mono from frame 20 on, stereo again from frame 40.
    Multiplex m = hd_multiplex();
    audio_mode_change(m, 0x0112, 20, 0);
    audio_mode_change(m, 0x0112, 40, 2);
    auto au = generate(m, {.packets = 30000});
    int frame = 0;
    for (size_t i : indices_of(au, 0x0112)) {
        if (!pusi_of(au[i])) continue;
        const uint8_t* h = &au[i][payload_offset(au[i]) + 14];
        int mode = ((h[2] & 1) << 2) | (h[3] >> 6);
        EXPECT_EQ(mode, frame >= 20 && frame < 40 ? 0 : 2) << frame;
        ++frame;
    }
    EXPECT_GT(frame, 40);
}

TEST(Scenarios, ScrambledAndSeeds) {
    Multiplex m = hd_multiplex();
    m.scrambled = true;
    auto ps = generate(m, {.packets = 5000});
    for (const auto& p : ps) {
        uint16_t pid = pid_of(p);
        if ((pid == 0x0111 || pid == 0x0112) && (afc_of(p) & 1)) {
            EXPECT_EQ(scrambling_of(p), 2);
        }
        if (pid == kPidPat) {
            EXPECT_EQ(scrambling_of(p), 0);
        }
    }
    EXPECT_EQ(hd({.packets = 3000, .seed = 5}), hd({.packets = 3000, .seed = 5}));
    EXPECT_NE(hd({.packets = 3000, .seed = 5}), hd({.packets = 3000, .seed = 6}));
}

// The streaming path writes packets as they are built; memory stays at about
// one chunk whatever the file size.
TEST(Streaming, LargeFileInConstantMemory) {
    {
        size_t seen = 0;
        Mux mux([&](const Packet&) { ++seen; });
        Generator g(hd_multiplex(), mux);
        g.run(50000);
        EXPECT_TRUE(mux.packets.empty());
        EXPECT_EQ(mux.count(), seen);
        EXPECT_GE(seen, 50000u);
    }
    std::string path = ::testing::TempDir() + "synth_stream.ts";
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const uint64_t packets = (96ull << 20) / 192;
    ASSERT_TRUE(write_file(path, hd_multiplex(), {.packets = packets}, Unit::u192, {}, {{1000, 1 << 20}}));
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    struct stat st{};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), packets * 192 + (1 << 20));
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's quarantine keeps freed blocks resident
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 40 * 1024);  // KiB: far below the 97 MiB written
#endif
    // The head of the file is the same stream generate() builds in memory.
    auto head = hd({.packets = 4});
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_TRUE(f);
    Bytes b(4 * 192);
    ASSERT_EQ(std::fread(b.data(), 1, b.size(), f), b.size());
    std::fclose(f);
    EXPECT_TRUE(std::equal(head[0].begin(), head[0].end(), b.begin() + 4));
    std::remove(path.c_str());
}
