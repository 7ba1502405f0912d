// GOP lists on streams built by the synthesizer: which packets start a GOP, the numbers, clocks
// and labels of the lines, trailers, the overlap list after a cut, and the broken_link mark.
#include "segment/gop_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "output/writer.h"
#include "segment/audio_track.h"
#include "segment/segment_state.h"
#include "segment/timing.h"
#include "state/run_state.h"
#include "synth.h"

namespace quill {
namespace {

constexpr std::uint16_t kVideo = 0x0111;
constexpr std::uint16_t kAudio = 0x0112;

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string trailer(int count) {
    return "LAST       ," + std::to_string(count) + "\r\nPID_VIDEO,0000\r\nTSPAC_TYPE,188\r\nEND\r\n";
}

// Slot 0 carrying video 0x0111 and audio 0x0112, written unbuffered into a temporary folder.
struct GopList : ::testing::Test {
    std::unique_ptr<RunState> run = std::make_unique<RunState>();
    std::string dir;
    std::vector<std::string> files;

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = ::testing::TempDir() + "goplist_" + info->name() + "_";
        run->options.buffer_mb = 0;
        run->options.gop_list = 1;
        OutputStream& s = slot();
        s.file.suffix = "_HD";
        s.file.path = dir + "rec_HD.ts";
        s.programme.in_use = s.file.enabled = 1;
        s.programme.es_pids[0] = kVideo;
        s.programme.es_pids[1] = kAudio;
        s.programme.es_count = 2;
        s.programme.first_audio_pid = kAudio;
        reset_slot_segments(*run, 0);
    }
    void TearDown() override {
        finish();
        for (const auto& f : {slot().file.path, dir + "rec_HD.ts", dir + "rec_HD-1.ts"}) {
            std::remove(f.c_str());
            std::remove((f + ".txt").c_str());
        }
    }
    OutputStream& slot() { return run->outputs[0]; }
    void finish() {
        if (slot().file.fd >= 0) file_close(slot().file.fd);
        slot().file.fd = -1;
        finish_gop_lists(slot());
    }
    // The routing's order: GOP and audio hooks, then the writer.
    void feed(const std::vector<synth::Packet>& packets, int live = 1) {
        for (synth::Packet p : packets) {
            if (synth::pid_of(p) == kVideo) gop_list_packet(*run, 0, p.data(), live);
            if (synth::pid_of(p) == kAudio) track_audio_packet(*run, 0, p.data());
            if (synth::pid_of(p) == synth::kPidTot) capture_broadcast_time_of_day(*run, p.data());
            ASSERT_NE(write_packet(*run, slot(), p.data(), live), -1);
        }
    }
    std::vector<std::string> lines() {
        const std::string text = read_text(dir + "rec_HD.ts.txt");
        std::vector<std::string> out;
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t end = text.find("\r\n", at);
            if (end == std::string::npos) break;
            out.push_back(text.substr(at, end - at));
            at = end + 2;
        }
        return out;
    }
};

synth::VideoFrame frame(synth::Picture type, std::uint64_t pts, std::size_t size = 600) {
    return {.type = type, .pts = pts, .sequence_header = type == synth::Picture::I, .size = size};
}

TEST_F(GopList, LinesForSequenceHeaderStartsOnly) {
    synth::Mux mux;
    mux.pes_video(kVideo, frame(synth::Picture::I, 0x1FFFFFFFF));  // packet 0
    mux.pes_video(kVideo, frame(synth::Picture::B, 3003));
    // A picture start first and a sequence header later in the same packet: no GOP start.
    synth::Bytes es = synth::video_es(frame(synth::Picture::P, 6006));
    synth::Bytes sequence = synth::video_es(frame(synth::Picture::I, 6006));
    es.insert(es.begin() + 20, sequence.begin(), sequence.begin() + 40);
    mux.pes(kVideo, synth::pes_packet(0xE0, es, 6006, std::nullopt, true));
    mux.pes_audio(kAudio, {.pts = 9000});
    const std::size_t second = mux.pes_video(kVideo, frame(synth::Picture::I, 45045));
    mux.null(2);
    feed(mux.packets);
    finish();

    const std::string text = read_text(dir + "rec_HD.ts.txt");
    EXPECT_EQ(text, "TS_CUT2\r\n\r\n"
                    "0111,,26:30:43:717,8589934591,0\r\n"
                    "0111,,00:00:00:500,45045," + std::to_string(second) + "\r\n" +
                    trailer(static_cast<int>(mux.packets.size())));
    EXPECT_EQ(slot().gop.last_gop_packet, static_cast<int>(second));
    EXPECT_EQ(slot().gop.last_video_pts, 45045);
    EXPECT_EQ(slot().gop.first_video_pts, 0x1FFFFFFFF);
}

TEST_F(GopList, ChannelAndTimeLabels) {
    struct Case {
        int channel, time;
        const char* before_audio;  // first GOP: no audio header, no TOT yet
        const char* after;         // second GOP: stereo audio seen, TOT 20:00:00 before it
    } cases[] = {
        {1, 0, "", "AudioCh02"},
        {0, 1, "", "20:00:00:000"},
        {1, 1, "", "Ch02(20:00:00:000)"},
        {0, 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.channel) + std::to_string(c.time));
        finish();
        run->options.gop_channel = c.channel;
        run->options.gop_time = c.time;
        reset_slot_segments(*run, 0);
        synth::Mux mux;
        mux.pes_video(kVideo, frame(synth::Picture::I, 900000));
        mux.pes_audio(kAudio, {.pts = 900000, .channel_configuration = 2});
        mux.tot({.hour = 20});
        mux.pes_video(kVideo, frame(synth::Picture::I, 945045));
        mux.pes_video(kVideo, frame(synth::Picture::I, 990090));
        feed(mux.packets);
        finish();
        const auto l = lines();
        ASSERT_EQ(l.size(), 2u + 3u + 4u);
        EXPECT_EQ(l[2].substr(0, 6), std::string("0111,,"));
        EXPECT_EQ(l[3], std::string("0111,") + c.after + ",00:00:10:500,945045,"
                        + std::to_string(synth::unit_starts(mux.packets, kVideo)[1]));
        // The offset fixed at the first GOP after the TOT runs on with the PTS.
        if (c.time) {
            EXPECT_NE(l[4].find("20:00:00:500"), std::string::npos) << l[4];
        }
    }
}

TEST_F(GopList, OverlapListAfterACut) {
    slot().split.overlap_active = 1;
    synth::Mux before;
    before.pes_video(kVideo, frame(synth::Picture::I, 90000));
    before.null(3);
    feed(before.packets);
    const int old_count = static_cast<int>(before.packets.size());

    // The cut: the list is handed over, the stream continues in rec_HD-1.ts, and the previous
    // file still takes 4 packets of overlap.
    finish_overlap_gop_list(slot());
    pass_gop_list_on(slot());
    file_close(slot().file.fd);
    slot().file.fd = -1;
    slot().file.path = dir + "rec_HD-1.ts";
    slot().gop.prev_left = 4;
    synth::Mux after;
    after.null(2);
    const std::size_t gop = after.pes_video(kVideo, frame(synth::Picture::I, 135135));  // inside the overlap
    after.null(1);
    const std::size_t late = after.pes_video(kVideo, frame(synth::Picture::I, 180180));  // after it
    feed(after.packets);
    ASSERT_GT(late, 3u);
    finish();

    EXPECT_EQ(read_text(dir + "rec_HD.ts.txt"), "TS_CUT2\r\n\r\n0111,,00:00:01:000,90000,0\r\n"
                                                "0111,,00:00:01:501,135135," +
                                                    std::to_string(old_count + static_cast<int>(gop)) + "\r\n" +
                                                    trailer(old_count + 4));
    EXPECT_EQ(read_text(dir + "rec_HD-1.ts.txt"), "TS_CUT2\r\n\r\n0111,,00:00:01:501,135135," + std::to_string(gop) +
                                                      "\r\n0111,,00:00:02:002,180180," + std::to_string(late) +
                                                      "\r\n" + trailer(static_cast<int>(after.packets.size())));
}

// The flag byte of a GOP header: the packet's broken_link bit as written to the file.
bool written_broken_link(const std::string& path) {
    const std::string ts = read_text(path);
    const std::size_t at = ts.find(std::string("\x00\x00\x01\xB8", 4));
    if (at == std::string::npos || at + 7 >= ts.size()) return false;
    // Skip over packet headers that fall between the start code and the flag byte.
    std::size_t flag = at + 7;
    if (flag / 188 != at / 188) flag += 4;
    return (static_cast<unsigned char>(ts[flag]) & 0x20) != 0;
}

TEST_F(GopList, BrokenLinkMarkedWhereverTheGopHeaderFalls) {
    run->options.gop_list = 0;  // the mark is made for split files with or without lists
    // Payload bytes in the first packet of the PES: the GOP header inside it, wholly in the
    // next packet, and split so that its flag byte comes with the next packet.
    for (std::size_t first_payload : {184u, 30u, 41u}) {
        SCOPED_TRACE(first_payload);
        finish();
        reset_slot_segments(*run, 0);
        slot().gop.broken_link_pending = 1;
        synth::Mux mux;
        std::optional<synth::Adaptation> af;
        if (first_payload < 184) af = synth::Adaptation{.stuffing = 182 - first_payload};
        mux.pes(kVideo, synth::pes_packet(0xE0, synth::video_es(frame(synth::Picture::I, 90000)), 90000,
                                          std::nullopt, true), af);
        mux.pes_video(kVideo, frame(synth::Picture::I, 135135));  // the next GOP keeps its flag
        feed(mux.packets);
        EXPECT_EQ(slot().gop.broken_link_pending, 0);
        finish();
        const std::string ts = read_text(slot().file.path);
        EXPECT_TRUE(written_broken_link(slot().file.path));
        // Only one GOP header got the bit.
        std::size_t marked = 0;
        for (std::size_t at = ts.find(std::string("\x00\x00\x01\xB8", 4)); at != std::string::npos;
             at = ts.find(std::string("\x00\x00\x01\xB8", 4), at + 1))
            if (at + 7 < ts.size() && at / 188 == (at + 7) / 188 && (ts[at + 7] & 0x20)) ++marked;
        EXPECT_LE(marked, 1u);
    }
    // Without a pending mark nothing changes, and replayed packets are never marked.
    finish();
    reset_slot_segments(*run, 0);
    synth::Mux mux;
    mux.pes_video(kVideo, frame(synth::Picture::I, 90000));
    feed(mux.packets);
    finish();
    EXPECT_FALSE(written_broken_link(slot().file.path));
}

TEST_F(GopList, ListNamesKeepTheSuffix) {
    Options o;
    OutputStream s;
    s.file.suffix = "_CS1";
    s.file.path = "/rec/show_CS1(211)-2.ts";
    EXPECT_EQ(gop_list_path(o, s), "/rec/show_CS1(211)-2.ts.txt");
    s.file.suffix = "";
    s.file.path = "/rec/show.ts";
    EXPECT_EQ(gop_list_path(o, s), "/rec/show.ts.txt");
    // -FLEN: the name is cut in its base part only; suffix and extensions stay whole.
    o.limit_name_length = 1;
    s.file.suffix = "_HD";
    const std::string base(246, 'a');
    s.file.path = "/r/" + base + "_HD.ts";  // exactly 255 bytes
    const std::string list = gop_list_path(o, s);
    EXPECT_EQ(list, "/r/" + base.substr(0, 242) + "_HD.ts.txt");
    EXPECT_EQ(list.size(), 255u);
}

}  // namespace
}  // namespace quill
