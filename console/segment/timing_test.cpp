// 90 kHz time: the wrap-aware difference, clock texts, the broadcast time of day, and -PTS on
// packets built by the synthesizer (which writes its own PES and adaptation fields).
#include "segment/timing.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "segment/segment_state.h"
#include "state/run_state.h"
#include "stream/pes.h"
#include "stream/tables.h"
#include "synth.h"

namespace quill {
namespace {

std::string clock_text(std::int64_t ticks) {
    char text[32];
    format_clock(text, sizeof text, ticks);
    return text;
}

TEST(PtsDelta, DifferencesAcrossTheWrap) {
    EXPECT_EQ(pts_delta(1000, 400), 600);
    EXPECT_EQ(pts_delta(400, 1000), -600);  // a little earlier: negative, no wrap
    // 100 ticks after the wrap, seen from just before it: the established add is 2^33 - 1.
    EXPECT_EQ(pts_delta(100, 0x1FFFFFF00), 355);
    // A wrap is assumed from a distance of 2^32 on, not before.
    const std::int64_t two32 = std::int64_t{1} << 32;
    EXPECT_EQ(pts_delta(0, two32 - 1), -(two32 - 1));
    EXPECT_EQ(pts_delta(0, two32), two32 - 1);
}

TEST(FormatClock, FieldsAndRounding) {
    EXPECT_EQ(clock_text(324000000), "01:00:00:000");
    EXPECT_EQ(clock_text(89), "00:00:00:000");
    EXPECT_EQ(clock_text(90), "00:00:00:001");
    EXPECT_EQ(clock_text(27LL * 324000000), "27:00:00:000");  // hours are not taken modulo 24
    EXPECT_EQ(clock_text(0x1FFFFFFFF), "26:30:43:717");
    EXPECT_EQ(clock_text(90000LL * 3661 + 45000), "01:01:01:500");
}

TEST(CutPointClock, PtsUntilTheOffsetIsKnownThenTimeOfDay) {
    OutputStream s;
    CutClock c = cut_point_clock(s, 900000);
    EXPECT_STREQ(c.label, "PTS");
    EXPECT_EQ(c.value, 900000);
    s.clocks.clock_offset = 72000LL * 90000 - 900000;  // 20:00:00 at PTS 900000
    c = cut_point_clock(s, 990000);
    EXPECT_STREQ(c.label, "Time");
    EXPECT_EQ(clock_text(c.value), "20:00:01:000");
    // A PTS that wrapped after the offset was fixed still gives a clock near the same time.
    s.clocks.clock_offset = 100 - 0x1FFFFFF00;
    c = cut_point_clock(s, 10);
    EXPECT_EQ(c.value, 10 + 100 - 0x1FFFFFF00 + 0x1FFFFFFFF);
}

// ---------------------------------------------------------------------------
// Broadcast time of day

synth::Packet tot_packet(int hour, int minute, int second) {
    synth::Mux mux;
    mux.tot(synth::JstTime{.hour = hour, .minute = minute, .second = second});
    return mux.packets.at(0);
}

TEST(BroadcastTime, EveryOutputWithoutAClockTakesIt) {
    auto run = std::make_unique<RunState>();
    for (int k = 0; k < kSlotCount; ++k) reset_slot_segments(*run, k);
    synth::Packet first = tot_packet(20, 0, 0);
    capture_broadcast_time_of_day(*run, first.data());
    for (const auto& s : run->outputs) EXPECT_EQ(s.clocks.broadcast_time, 72000LL * 90000);

    // HD fixed its offset; SD1 was assigned later (its clocks reset). The next TOT reaches SD1
    // although HD's clock is set, and leaves HD alone.
    run->outputs[0].clocks.clock_offset = 5;
    reset_slot_clocks(run->outputs[3]);
    synth::Packet later = tot_packet(20, 0, 5);
    capture_broadcast_time_of_day(*run, later.data());
    EXPECT_EQ(run->outputs[0].clocks.broadcast_time, 72000LL * 90000);
    EXPECT_EQ(run->outputs[3].clocks.broadcast_time, 72005LL * 90000);
    EXPECT_EQ(run->outputs[4].clocks.broadcast_time, 72000LL * 90000);  // set, offset still open: kept
}

// ---------------------------------------------------------------------------
// -PTS

constexpr std::uint16_t kVideo = 0x0111;
constexpr std::uint16_t kAudio = 0x0112;
constexpr std::uint16_t kCaption = 0x0130;
constexpr std::uint16_t kPcr = 0x01FF;

struct Rebase : ::testing::Test {
    std::unique_ptr<RunState> run = std::make_unique<RunState>();
    void SetUp() override {
        run->options.rewrite_pts = 1;
        reset_timing(run->timing);
        note_pcr_pid(run->timing, 0, kPcr);
    }
    // Renumbers a copy as the job does and returns it.
    synth::Packet rebase(synth::Packet p) {
        rebase_time_stamps(run->options, run->timing, p.data());
        return p;
    }
    static synth::Packet first(synth::Mux& mux) { return mux.packets.at(0); }
    static synth::Packet video(std::uint64_t pts, std::optional<std::uint64_t> dts = {},
                               std::optional<std::uint64_t> pcr = {}) {
        synth::Mux mux;
        mux.pes_video(kVideo, {.type = synth::Picture::I, .pts = pts, .dts = dts}, pcr);
        return first(mux);
    }
    static synth::Packet audio(std::uint64_t pts) {
        synth::Mux mux;
        mux.pes_audio(kAudio, {.pts = pts});
        return first(mux);
    }
    static synth::Packet pcr(std::uint16_t pid, std::uint64_t base, bool random_access = false,
                             synth::Bytes payload = {}, bool unit_start = false) {
        synth::Mux mux;
        mux.packet({.pid = pid,
                    .payload_unit_start = unit_start,
                    .adaptation = synth::Adaptation{.pcr_base = base, .pcr_extension = 0x155,
                                                    .random_access = random_access},
                    .payload = std::move(payload)});
        return first(mux);
    }
    static std::int64_t dts_of(const synth::Packet& p) {
        const std::size_t o = synth::payload_offset(p);
        return read_time_stamp_field(p.data() + o + 14);
    }
};

TEST_F(Rebase, FirstTimeStampBecomesOneHourAndOthersKeepTheirDistance) {
    EXPECT_EQ(*synth::pes_pts_of(rebase(video(954009))), 324000000u);
    EXPECT_EQ(run->timing.time_base, 954009);
    EXPECT_EQ(*synth::pes_pts_of(rebase(audio(954009 - 45000))), 323955000u);  // 0.5 s earlier
    EXPECT_EQ(*synth::pes_pts_of(rebase(video(954009 + 3003))), 324003003u);
    // A time stamp past the 33-bit wrap continues the count.
    run->timing.time_base = 0x1FFFFFF00;
    EXPECT_EQ(*synth::pes_pts_of(rebase(video(100))), 324000355u);
}

TEST_F(Rebase, PcrArrivingFirstIsTheBase) {
    const synth::Packet before = pcr(kPcr, 900000);
    const synth::Packet p = rebase(before);
    EXPECT_EQ(*synth::pcr_base_of(p), 324000000u);
    EXPECT_EQ(p[10] & 0x7F, before[10] & 0x7F);  // reserved bits and the extension stay
    EXPECT_EQ(p[11], before[11]);
    EXPECT_EQ(*synth::pes_pts_of(rebase(video(990000))), 324090000u);
}

TEST_F(Rebase, PesHeaderBitsStayAndDtsKeepsItsDistance) {
    synth::Packet before = video(954009 + 9009, 954009);
    synth::Packet after = rebase(before);
    EXPECT_EQ(*synth::pes_pts_of(after), 324000000u);
    EXPECT_EQ(dts_of(after), 324000000 - 9009);
    // Only the 33 value bits moved: prefixes ('0011' PTS, '0001' DTS) and marker bits are as built.
    const std::size_t o = synth::payload_offset(before);
    for (std::size_t field : {o + 9, o + 14}) {
        EXPECT_EQ(after[field] & 0xF1, before[field] & 0xF1);
        EXPECT_EQ(after[field + 2] & 0x01, 1);
        EXPECT_EQ(after[field + 4] & 0x01, 1);
    }
    for (std::size_t i = 0; i < o + 9; ++i) EXPECT_EQ(after[i], before[i]) << i;
    for (std::size_t i = o + 19; i < 188; ++i) EXPECT_EQ(after[i], before[i]) << i;
}

TEST_F(Rebase, CaptionsMoveWithThePictures) {
    rebase(video(954009));
    synth::Mux mux;
    mux.pes(kCaption, synth::pes_packet(0xBD, synth::Bytes(40, 0x80), 954009 + 90000, std::nullopt));
    synth::Packet p = rebase(first(mux));
    const std::size_t o = synth::payload_offset(p);
    EXPECT_EQ(read_pes_pts(p.data() + o), 324090000);
}

TEST_F(Rebase, EveryPcrOfAListedPidOrOfAPesStart) {
    rebase(video(900000));
    // random_access_indicator beside the PCR (flags 0x50) and payload behind the field.
    synth::Packet p = rebase(pcr(kPcr, 990000, /*random_access=*/true, synth::Bytes(100, 0xAA)));
    EXPECT_EQ(*synth::pcr_base_of(p), 324090000u);
    // PCR on the video PID in the middle of a PES: the video PID is listed as the PCR_PID.
    note_pcr_pid(run->timing, 1, kVideo);
    p = rebase(pcr(kVideo, 999000, false, synth::Bytes(150, 0x11)));
    EXPECT_EQ(*synth::pcr_base_of(p), 324099000u);
    // PCR in a video PES start (PCR carried in the video), PID not listed.
    reset_timing(run->timing);
    p = rebase(video(900000, std::nullopt, 899000));
    EXPECT_EQ(*synth::pcr_base_of(p), 324000000u - 1000);
    // Not listed and no PES start: untouched.
    const synth::Packet other = pcr(0x0222, 999000);
    EXPECT_EQ(rebase(other), other);
}

TEST_F(Rebase, PmtsFillThePcrPidListOneSegmentIncluded) {
    reset_timing(run->timing);
    rebase(video(900000));
    // A one-segment service with its PCR on its own video PID, in the middle of its PES.
    synth::Mux mux;
    synth::Service oneseg = synth::oneseg_service();
    oneseg.pcr_pid = 0x0181;
    mux.pmt(oneseg);
    run->outputs[kSlotOneSeg].file.enabled = 1;
    PacketReport report;
    oneseg_pmt_work(*run, kSlotOneSeg, mux.packets.at(0).data(), report);
    synth::Packet p = rebase(pcr(0x0181, 990000, false, synth::Bytes(120, 0x22)));
    EXPECT_EQ(*synth::pcr_base_of(p), 324090000u);
    // A programme's PMT names its PCR PID; 0x1FFF ("no PCR") lists nothing.
    run->tables.count = 1;
    run->tables.entries[0].pmt_pid = 0x01F0;
    mux.pmt({.service_id = 0x0400, .pmt_pid = 0x01F0, .pcr_pid = 0x02FF, .streams = {{0x02, 0x0121}}});
    PmtStreams streams;
    pmt_table_work(*run, 0, mux.packets.back().data(), streams, report);
    p = rebase(pcr(0x02FF, 999000));
    EXPECT_EQ(*synth::pcr_base_of(p), 324099000u);
    note_pcr_pid(run->timing, 0, 0x1FFF);
    const synth::Packet null_pcr = pcr(0x1FFF, 999000);
    EXPECT_EQ(rebase(null_pcr), null_pcr);
}

TEST_F(Rebase, AdaptationFieldWithoutPcrIsNeverChanged) {
    rebase(video(900000));
    synth::Mux mux;
    // Section-like unit start on the PCR PID with a 7-byte adaptation field of stuffing only.
    mux.packet({.pid = kPcr, .payload_unit_start = true, .adaptation = synth::Adaptation{.stuffing = 6},
                .payload = synth::Bytes(176, 0x5A)});
    // The adaptation field fills the packet, flags 0.
    mux.packet({.pid = kPcr, .adaptation = synth::Adaptation{.stuffing = 182}});
    for (const synth::Packet& p : mux.packets) EXPECT_EQ(rebase(p), p);
}

TEST_F(Rebase, CopyModesAndPlainRunsLeaveEveryByte) {
    const synth::Packet v = video(954009, 950000, 949000);
    const synth::Packet c = pcr(kPcr, 900000);
    for (auto set : {+[](Options& o) { o.null_only = 1; }, +[](Options& o) { o.gop_only = o.null_only = 1; },
                     +[](Options& o) { o.rewrite_pts = 0; }}) {
        run = std::make_unique<RunState>();
        run->options.rewrite_pts = 1;
        set(run->options);
        note_pcr_pid(run->timing, 0, kPcr);
        EXPECT_EQ(rebase(v), v);
        EXPECT_EQ(rebase(c), c);
        EXPECT_TRUE(time_unset(run->timing.time_base));
    }
}

TEST_F(Rebase, TruncatedHeadersAreSkipped) {
    // A PES start so late behind a long adaptation field that the PTS would lie past the end.
    synth::Mux mux;
    synth::Bytes pes = synth::pes_packet(0xE0, synth::Bytes(10, 0), 954009, std::nullopt);
    pes.resize(12);
    mux.packet({.pid = kVideo, .payload_unit_start = true, .adaptation = synth::Adaptation{.stuffing = 170},
                .payload = pes});
    const synth::Packet p = first(mux);
    ASSERT_GT(synth::payload_offset(p) + 14, 188u);
    EXPECT_EQ(rebase(p), p);
    EXPECT_TRUE(time_unset(run->timing.time_base));
}

}  // namespace
}  // namespace quill
