// AAC channel modes out of audio PES starts built by the synthesizer: which ADTS headers count,
// and what the tracking records per output.
#include "segment/audio_track.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "segment/segment_state.h"
#include "state/run_state.h"
#include "synth.h"

namespace quill {
namespace {

constexpr std::uint16_t kAudio = 0x0112;

synth::Packet audio_start(const synth::AudioFrame& a) {
    synth::Mux mux;
    mux.pes_audio(kAudio, a);
    return mux.packets.at(0);
}

// The first ADTS header of a packet built from `a`, changed by `edit`.
synth::Packet edited(const synth::AudioFrame& a, const std::function<void(std::uint8_t*)>& edit) {
    synth::Packet p = audio_start(a);
    const std::size_t o = synth::payload_offset(p);
    edit(p.data() + o + 14);
    return p;
}

TEST(AdtsMode, ChannelConfigurationOfTheFirstValidHeader) {
    AdtsMode m = find_adts_mode(audio_start({.pts = 900000, .channel_configuration = 2}).data());
    EXPECT_EQ(m.mode, 2);
    EXPECT_EQ(m.sampling_index, 3);
    EXPECT_EQ(m.pts, 900000);
    EXPECT_EQ(find_adts_mode(audio_start(synth::dual_mono({.pts = 900000})).data()).mode, 0);
    EXPECT_EQ(find_adts_mode(audio_start({.pts = 1, .sampling_frequency_index = 5}).data()).mode, 2);  // 32 kHz
}

// Broadcast headers (MPEG-2 ID, CRC, a fullness within the PES) and the usual encoder headers
// (FF F1: MPEG-4 ID without CRC, fullness 0x7FF for variable rate) both count.
TEST(AdtsMode, HeadersWithAndWithoutCrcCount) {
    const struct {
        const char* what;
        synth::Packet packet;
    } cases[] = {
        {"FF F8", audio_start({.pts = 1, .buffer_fullness = 0x100})},
        {"FF F9", audio_start({.pts = 1, .protection_absent = true})},
        {"FF F0", audio_start({.pts = 1, .mpeg2_id = false})},
        {"FF F1 variable rate", audio_start({.pts = 1, .channel_configuration = 0, .mpeg2_id = false,
                                             .protection_absent = true, .buffer_fullness = 0x7FF})},
        {"fullness above PES_packet_length", audio_start({.pts = 1, .buffer_fullness = 0x400, .size = 300})},
    };
    for (const auto& c : cases) EXPECT_GE(find_adts_mode(c.packet.data()).mode, 0) << c.what;
    EXPECT_EQ(find_adts_mode(cases[3].packet.data()).mode, 0);
}

TEST(AdtsMode, HeadersThatDoNotCount) {
    const synth::AudioFrame stereo{.pts = 900000, .channel_configuration = 2, .size = 300};
    const struct {
        const char* what;
        synth::Packet packet;
    } cases[] = {
        {"AAC Main profile", audio_start({.pts = 1, .profile = 0})},
        {"frame beyond PES", edited(stereo, [](std::uint8_t* h) { h[3] |= 0x03; })},
        {"two raw data blocks", edited(stereo, [](std::uint8_t* h) { h[6] |= 0x01; })},
        {"96 kHz", edited(stereo, [](std::uint8_t* h) { h[2] = static_cast<std::uint8_t>((h[2] & 0xC3) | (0 << 2)); })},
    };
    for (const auto& c : cases) EXPECT_EQ(find_adts_mode(c.packet.data()).mode, -1) << c.what;

    // A 24 kHz header is passed over and a 48 kHz header behind it in the same packet is taken.
    synth::Bytes es = synth::adts_frame(
        {.channel_configuration = 1, .sampling_frequency_index = 6, .buffer_fullness = 0x10, .size = 40});
    const synth::Bytes main = synth::adts_frame({.channel_configuration = 0, .buffer_fullness = 0x10, .size = 100});
    es.insert(es.end(), main.begin(), main.end());
    synth::Mux mux;
    mux.pes(kAudio, synth::pes_packet(0xC0, es, 90000, std::nullopt));
    EXPECT_EQ(find_adts_mode(mux.packets.at(0).data()).mode, 0);
    // Video and continuation packets are not audio starts.
    synth::Mux other;
    other.pes_video(0x0111, {.pts = 90000});
    EXPECT_EQ(find_adts_mode(other.packets.at(0).data()).mode, -1);
    other.pes_audio(kAudio, {.pts = 1, .size = 800});
    EXPECT_EQ(find_adts_mode(other.packets.back().data()).mode, -1);
}

struct Tracking : ::testing::Test {
    std::unique_ptr<RunState> run = std::make_unique<RunState>();
    OutputStream& slot() { return run->outputs[0]; }
    void SetUp() override {
        reset_slot_segments(*run, 0);
        slot().programme.in_use = slot().file.enabled = 1;
        slot().file.fd = 99;  // the file is open; nothing is written here
    }
    void TearDown() override { slot().file.fd = -1; }
    void feed(const synth::AudioFrame& a) {
        synth::Packet p = audio_start(a);
        track_audio_packet(*run, 0, p.data());
    }
};

TEST_F(Tracking, ModesAndClocks) {
    feed({.pts = 1000, .channel_configuration = 2});
    feed({.pts = 2920, .channel_configuration = 2});
    EXPECT_EQ(slot().audio.channel_code, 2);
    EXPECT_EQ(slot().audio.first_pts, 1000);
    EXPECT_EQ(slot().audio.current_pts, 2920);
    feed(synth::dual_mono({.pts = 4840}));
    EXPECT_EQ(slot().audio.channel_code, 0);
    EXPECT_EQ(slot().audio.last_channel_mode, 0);
    // Audio numbers only count where splitting is possible.
    EXPECT_EQ(slot().audio.number, 0);
    EXPECT_EQ(slot().audio.modes[0], -1);
}

TEST_F(Tracking, AudioNumbersUnderAudioSplits) {
    run->options.audio_split = 1;
    feed({.pts = 1000, .channel_configuration = 2});
    feed(synth::dual_mono({.pts = 2920}));
    EXPECT_EQ(slot().audio.number, 1);
    EXPECT_EQ(slot().audio.previous_number, 0);
    EXPECT_EQ(slot().audio.modes[0], 2);
    EXPECT_EQ(slot().audio.modes[1], 0);
    EXPECT_EQ(audio_mode_number(slot(), 2), 0);
    EXPECT_EQ(audio_mode_number(slot(), 1), 2);  // the next unused entry
}

TEST_F(Tracking, GuardCountsDownWithAudioTime) {
    feed({.pts = 1000});
    slot().audio.guard_passed = 0;
    slot().audio.guard_remaining = 3000;
    feed({.pts = 2920});
    EXPECT_EQ(slot().audio.guard_remaining, 1080);
    EXPECT_EQ(slot().audio.guard_passed, 0);
    feed({.pts = 4840});
    EXPECT_EQ(slot().audio.guard_passed, 1);
}

TEST_F(Tracking, OnlyOpenOutputsInUse) {
    slot().file.fd = -1;
    feed({.pts = 1000});
    EXPECT_EQ(slot().audio.channel_code, -1);
    run->options.gop_only = 1;  // no stream file in this mode: tracked all the same
    feed({.pts = 1000});
    EXPECT_EQ(slot().audio.channel_code, 2);
    slot().programme.in_use = 0;
    feed(synth::dual_mono({.pts = 2000}));
    EXPECT_EQ(slot().audio.channel_code, 2);
}

}  // namespace
}  // namespace quill
