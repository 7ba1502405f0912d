// The table readers on sections the synthesizer builds, and on sections whose lengths claim more
// than the packet holds: each reads its packet alone, without any run state.
#include "stream/psi.h"

#include <gtest/gtest.h>

#include "synth.h"

namespace quill {
namespace {

synth::Packet first_packet(synth::Mux& mux) { return mux.packets.at(0); }

TEST(Psi, PatEntriesInOrderAndCsTransportStreams) {
    synth::Mux mux;
    mux.pat(0x7040, {{0, 0x0010}, {211, 0x01F0}, {212, 0x01F1}});
    PatSection pat;
    ASSERT_TRUE(parse_pat(first_packet(mux).data(), pat));
    EXPECT_EQ(pat.transport_stream_id, 0x7040);
    ASSERT_EQ(pat.count, 3);
    EXPECT_EQ(pat.entries[0].program_number, 0);
    EXPECT_EQ(pat.entries[2].program_number, 212);
    EXPECT_EQ(pat.entries[2].pid, 0x01F1);
    for (int tsid : {0x6000, 0x63FF, 0x7040, 0x7300}) EXPECT_TRUE(is_cs_transport_stream(tsid)) << std::hex << tsid;
    for (int tsid : {0x6400, 0x7400, 0x4010, 0x7FE8}) EXPECT_FALSE(is_cs_transport_stream(tsid)) << std::hex << tsid;

    // A section_length past the packet: the entries stop at its last whole one.
    synth::Packet long_pat = first_packet(mux);
    long_pat[6] = 0xB3;
    long_pat[7] = 0xFF;
    ASSERT_TRUE(parse_pat(long_pat.data(), pat));
    EXPECT_EQ(pat.count, (188 - 13) / 4);
    long_pat[5] = 0x02;  // not a PAT
    EXPECT_FALSE(parse_pat(long_pat.data(), pat));
}

TEST(Psi, CatCaPidsAndADescriptorCutOffByTheSection) {
    synth::Mux mux;
    mux.cat({0x0902, 0x0903});
    CatSection cat;
    synth::Packet p = first_packet(mux);
    ASSERT_TRUE(parse_cat(p.data(), cat));
    ASSERT_EQ(cat.count, 2);
    EXPECT_EQ(cat.ca_pids[1], 0x0903);
    p[7] = static_cast<std::uint8_t>(p[7] - 3);  // the second descriptor now runs into the CRC
    ASSERT_TRUE(parse_cat(p.data(), cat));
    EXPECT_EQ(cat.count, 1);
}

TEST(Psi, PmtStreamsLayersAndEcms) {
    synth::Service s{.service_id = 0x0400, .pmt_pid = 0x01F0, .pcr_pid = 0x01FF,
                     .program_descriptors = synth::Bytes{},
                     .streams = {{0x02, 0x0111, synth::ca_descriptor(0x0902)},
                                 {0x02, 0x0115, synth::hierarchical_descriptor(false, 0x0111)},
                                 {0x0F, 0x0112},
                                 {0x0D, 0x0140, synth::ca_descriptor(0x0903)}}};
    for (std::uint16_t ecm : {0x0901, 0x0904}) {
        const synth::Bytes d = synth::ca_descriptor(ecm);
        s.program_descriptors.insert(s.program_descriptors.end(), d.begin(), d.end());
    }
    s.version = 5;
    synth::Mux mux;
    mux.pmt(s);
    PmtSection pmt;
    ASSERT_TRUE(parse_pmt(first_packet(mux).data(), pmt));
    EXPECT_EQ(pmt.version, 5);
    EXPECT_EQ(pmt.pcr_pid, 0x01FF);
    ASSERT_EQ(pmt.stream_count, 4);
    EXPECT_FALSE(pmt.streams[0].low_quality_layer);
    EXPECT_TRUE(pmt.streams[1].low_quality_layer);
    EXPECT_EQ(pmt.streams[3].stream_type, 0x0D);
    // The programme loop's first CA descriptor, then the streams' (not the data carousel's).
    ASSERT_EQ(pmt.ecm_count, 2);
    EXPECT_EQ(pmt.ecm_pids[0], 0x0901);
    EXPECT_EQ(pmt.ecm_pids[1], 0x0902);

    // Too short for the fixed fields.
    synth::Packet p = first_packet(mux);
    p[7] = 11;
    EXPECT_FALSE(parse_pmt(p.data(), pmt));
    // Every length at its largest: the loops stay inside the packet.
    p = first_packet(mux);
    p[6] = 0xBF;
    p[7] = 0xFF;
    p[15] = 0xFF;
    p[16] = 0xFF;
    ASSERT_TRUE(parse_pmt(p.data(), pmt));
    EXPECT_EQ(pmt.stream_count, 0);
}

TEST(Psi, EitPresentEventOfSectionZeroOnly) {
    synth::Mux mux;
    mux.eit({.actual = false, .service_id = 0x0400, .section_number = 0, .event_id = 12});
    mux.eit({.service_id = 0x0400, .section_number = 1, .event_id = 13});
    EitPresentEvent event;
    ASSERT_TRUE(parse_eit_present_event(mux.packets.at(0).data(), event));
    EXPECT_EQ(event.service_id, 0x0400);
    EXPECT_EQ(event.event_id, 12);
    EXPECT_FALSE(parse_eit_present_event(mux.packets.at(1).data(), event));
    // A section without any event: nothing on air.
    synth::Packet empty = mux.packets.at(0);
    empty[7] = 15;
    EXPECT_FALSE(parse_eit_present_event(empty.data(), event));
}

TEST(Psi, TotTimeOfDayInTicks) {
    synth::Mux mux;
    mux.tot(synth::JstTime{.hour = 23, .minute = 59, .second = 59});
    mux.tot(synth::JstTime{.hour = 12, .minute = 34, .second = 56}, /*tdt=*/true);
    EXPECT_EQ(tot_time_of_day(mux.packets.at(0).data()), 7775910000LL);  // beyond 32 bits
    EXPECT_EQ(tot_time_of_day(mux.packets.at(1).data()), ((12 * 60 + 34) * 60 + 56) * 90000LL);
}

}  // namespace
}  // namespace quill
