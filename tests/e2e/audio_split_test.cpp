// Audio channel-mode splits end to end: the real binary on synthesized HD recordings whose AAC
// switches between stereo (channel_configuration 2) and dual mono (0). The written files are
// compared packet by packet with what the split rules predict from the synthesizer's packets:
//
//   option   old file                                 new file (after PAT, PMT, last PCR)
//   -SEPA    everything before the GOP G of the       from the change c on: tables and PCR; audio
//            change                                   once 0.5005 s of audio after G has passed;
//                                                     video from the next GOP start
//   -SEPA2   ... plus G's packets up to c but video   G's packets up to c but audio, then c on
//   -SEPA3   ... plus G's non-video packets before    G's packets up to c, then c on
//            G's first audio PES start
//
// The first GOP of a new file that starts with a cut carries broken_link.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "substitute_transform.h"
#include "synth.h"

namespace {

using e2e::Bytes;
using synth::Packet;

constexpr int kVideo = 0x0111;
constexpr int kAudio = 0x0112;
constexpr int kPmt = 0x01F0;
constexpr int kPcr = 0x01FF;
constexpr int kServiceId = 0x0400;
constexpr std::int64_t kGuard = 45045;

// ISO/IEC 13818-1 PAT with the network entry and one programme, behind the received header.
Packet own_pat(const Packet& received) {
    Packet p;
    p.fill(0xFF);
    std::copy(received.begin(), received.begin() + 13, p.begin());
    p[6] = 0xB0;
    p[7] = 17;
    const std::uint8_t entries[8] = {0x00, 0x00, 0xE0, 0x10, kServiceId >> 8, kServiceId & 0xFF,
                                     static_cast<std::uint8_t>(0xE0 | (kPmt >> 8)), kPmt & 0xFF};
    std::copy(entries, entries + 8, p.begin() + 13);
    const std::uint32_t crc = synth::crc32_mpeg2(p.data() + 5, 16);
    for (int i = 0; i < 4; ++i) p[static_cast<std::size_t>(21 + i)] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    return p;
}

// Start of the elementary stream behind the PES header of a unit start, or 0.
std::size_t es_start(const Packet& p) {
    if (!synth::pusi_of(p)) return 0;
    const std::size_t pes = synth::payload_offset(p);
    if (pes + 9 > 188 || p[pes] != 0 || p[pes + 1] != 0 || p[pes + 2] != 1) return 0;
    const std::size_t es = pes + 9 + p[pes + 8];
    return es + 7 <= 188 ? es : 0;
}

// channel_configuration of the ADTS header (ISO/IEC 13818-7) opening an audio PES, -1 without.
int audio_mode(const Packet& p) {
    if (synth::pid_of(p) != kAudio) return -1;
    const std::size_t h = es_start(p);
    if (h == 0 || p[h] != 0xFF || (p[h + 1] & 0xF6) != 0xF0) return -1;
    return ((p[h + 2] & 1) << 2) | (p[h + 3] >> 6);
}

bool gop_start(const Packet& p) {
    if (synth::pid_of(p) != kVideo) return false;
    const std::size_t es = es_start(p);
    return es != 0 && p[es] == 0 && p[es + 1] == 0 && p[es + 2] == 1 && p[es + 3] == 0xB3;
}

// 33-bit time stamp difference the way clocks are subtracted across the wrap.
std::int64_t delta(std::int64_t a, std::int64_t c) {
    if (a >= c) return a - c;
    if (c - a >= (std::int64_t{1} << 32)) return a - c + 0x1FFFFFFFF;
    return a - c;
}

void mark_broken_link(Packet& p) {
    for (std::size_t i = 4; i + 8 < 188; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == 0xB8) {
            p[i + 7] |= 0x20;
            return;
        }
}

bool hd_pid(int pid) { return pid == 0 || pid == kPmt || pid == kVideo || pid == kAudio || pid == kPcr; }

// What the HD file of a plain run takes from input packets [from, to).
std::vector<Packet> hd_output(const std::vector<Packet>& in, std::size_t from, std::size_t to) {
    std::vector<Packet> out;
    for (std::size_t i = from; i < to && i < in.size(); ++i) {
        const int pid = synth::pid_of(in[i]);
        if (!hd_pid(pid)) continue;
        out.push_back(pid == 0 ? own_pat(in[i]) : in[i]);
    }
    return out;
}

struct Change {
    std::size_t at = 0;        // input index of the first audio PES start in the new mode
    std::size_t gop = 0;       // input index of the last GOP start before it (SIZE_MAX: none)
    std::int64_t audio_at_gop = -1;
    std::int64_t pts = 0;
};

Change find_change(const std::vector<Packet>& in, int to_mode, std::size_t from = 0) {
    Change c;
    c.gop = SIZE_MAX;
    std::int64_t last_audio = -1;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (gop_start(in[i])) {
            c.gop = i;
            c.audio_at_gop = last_audio;
        }
        const int mode = audio_mode(in[i]);
        if (mode < 0) continue;
        const auto pts = static_cast<std::int64_t>(*synth::pes_pts_of(in[i]));
        if (mode == to_mode && i >= from) {
            c.at = i;
            c.pts = pts;
            return c;
        }
        last_audio = pts;
    }
    ADD_FAILURE() << "no change to mode " << to_mode;
    return c;
}

// The last packet of `pid` before input index `before`.
Packet last_before(const std::vector<Packet>& in, int pid, std::size_t before) {
    for (std::size_t i = before; i-- > 0;)
        if (synth::pid_of(in[i]) == pid) return in[i];
    return Packet{};
}

// -SEPA: from the change on, elementary-stream packets wait for the guard time and the video
// for the next GOP start, whose picture is marked as following a cut.
std::vector<Packet> sepa_new_file_body(const std::vector<Packet>& in, const Change& c) {
    std::vector<Packet> out;
    bool pending = true;
    bool guard = c.audio_at_gop < 0 || delta(c.pts, c.audio_at_gop) >= kGuard;
    bool marked = false;
    for (std::size_t i = c.at; i < in.size(); ++i) {
        const int pid = synth::pid_of(in[i]);
        if (!hd_pid(pid)) continue;
        if (pending && audio_mode(in[i]) >= 0 &&
            delta(static_cast<std::int64_t>(*synth::pes_pts_of(in[i])), c.audio_at_gop) >= kGuard)
            guard = true;
        if (pending && gop_start(in[i])) pending = false;
        if (pending && (pid == kVideo || pid == kAudio) && (!guard || pid == kVideo)) continue;
        Packet p = pid == 0 ? own_pat(in[i]) : in[i];
        if (pid == kVideo && !marked) {
            mark_broken_link(p);
            marked = true;
        }
        out.push_back(p);
    }
    return out;
}

// The file an audio split at c ends: everything before the GOP G of the change; under -SEPA2 (mode
// 2) also G's packets up to c but its video; under -SEPA3 only those before G's first audio PES.
std::vector<Packet> old_file_of(const std::vector<Packet>& in, const Change& c, int mode) {
    std::vector<Packet> out = hd_output(in, 0, c.gop);
    if (mode == 1) return out;
    for (const Packet& p : hd_output(in, c.gop, c.at)) {
        if (mode == 3 && audio_mode(p) >= 0) break;
        if (synth::pid_of(p) != kVideo) out.push_back(p);
    }
    return out;
}

std::vector<Packet> packets_of(const Bytes& file) {
    std::vector<Packet> out;
    for (const auto& b : e2e::split_packets(file)) {
        Packet p;
        std::copy(b.begin(), b.begin() + 188, p.begin());
        out.push_back(p);
    }
    return out;
}

// Index of the first differing packet, or -1; a size difference counts at the shorter end.
long first_difference(const std::vector<Packet>& a, const std::vector<Packet>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return static_cast<long>(i);
    return a.size() == b.size() ? -1 : static_cast<long>(n);
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct AudioSplitE2E : ::testing::Test {
    e2e::TempDir dir;
    e2e::RunResult result;
    std::vector<Packet> input;

    // An HD recording whose audio takes each (frame, mode) from that audio frame on.
    void make_input(const std::vector<std::pair<std::uint64_t, int>>& modes, double seconds = 3.0,
                    std::optional<std::uint64_t> first_pcr = {}, bool oneseg_audio = true) {
        synth::Multiplex m = synth::hd_multiplex();
        if (first_pcr) m.first_pcr = *first_pcr;
        if (!oneseg_audio)
            m.audios.erase(std::remove_if(m.audios.begin(), m.audios.end(),
                                          [](const synth::AudioSource& a) { return a.pid != kAudio; }),
                           m.audios.end());
        for (const auto& [frame, mode] : modes)
            synth::audio_mode_change(m, kAudio, frame, static_cast<std::uint8_t>(mode));
        input = synth::generate(m, synth::Config{.seconds = seconds});
        write_input();
    }
    void write_input() {
        Bytes b;
        for (const auto& p : input) b.insert(b.end(), p.begin(), p.end());
        e2e::write_file(dir.file("rec.ts"), b);
    }
    void run(std::vector<std::string> args) {
        args.push_back("rec.ts");
        result = e2e::run_quillodine(args, dir.path);
        ASSERT_EQ(result.exit_code, 0) << result.out;
        EXPECT_EQ(result.out.find("error - "), std::string::npos) << result.out;
    }
    std::vector<Packet> out(const std::string& name) { return packets_of(e2e::read_file(dir.file(name))); }
    std::string text(const std::string& name) {
        const Bytes b = e2e::read_file(dir.file(name));
        return std::string(b.begin(), b.end());
    }
    std::vector<std::string> hd_files() {
        std::vector<std::string> names;
        for (const auto& n : e2e::list_dir(dir.path))
            if (n.rfind("rec_HD", 0) == 0 && n.size() > 3 && n.substr(n.size() - 3) == ".ts") names.push_back(n);
        return names;
    }
    // The new file's opening: a PAT naming the service, the last PMT and the last PCR before c.
    void expect_file_start(const std::vector<Packet>& file, const Change& c) {
        ASSERT_GE(file.size(), 3u);
        EXPECT_EQ(file[0], own_pat(last_before(input, 0, c.at)));
        EXPECT_EQ(file[1], last_before(input, kPmt, c.at));
        EXPECT_EQ(file[2], last_before(input, kPcr, c.at));
    }
};

TEST_F(AudioSplitE2E, StereoThroughoutNeitherSplitsNorReports) {
    make_input({});
    run({"-SEPA", "-GOPCH"});
    EXPECT_EQ(hd_files(), (std::vector<std::string>{"rec_HD.ts"}));
    EXPECT_EQ(result.out.find("音声"), std::string::npos) << result.out;
    EXPECT_EQ(first_difference(out("rec_HD.ts"), hd_output(input, 0, input.size())), -1);
    const std::string list = text("rec_HD.ts.txt");
    EXPECT_GT(count_of(list, ",AudioCh02,"), 0u) << list;
    EXPECT_EQ(count_of(list, "AudioCh00"), 0u);
}

TEST_F(AudioSplitE2E, OneFrameOfDualMonoIsCancelledAndLeavesTheFileWhole) {
    make_input({{60, 0}, {61, 2}});
    run({"-SEPA"});
    EXPECT_EQ(count_of(result.out, "音声分割をキャンセルします。(2ch->0ch->2chへの変化) Time:"), 1u) << result.out;
    EXPECT_EQ(count_of(result.out, "音声分割("), 0u) << result.out;
    EXPECT_EQ(hd_files(), (std::vector<std::string>{"rec_HD.ts"}));
    EXPECT_EQ(first_difference(out("rec_HD.ts"), hd_output(input, 0, input.size())), -1);
}

TEST_F(AudioSplitE2E, SepaEndsTheOldFileBeforeTheGopAndStartsTheNewOneAtTheNextGop) {
    make_input({{60, 0}});
    run({"-SEPA"});
    ASSERT_EQ(hd_files(), (std::vector<std::string>{"rec_HD-a1.ts", "rec_HD.ts"}));
    const Change c = find_change(input, 0);
    ASSERT_NE(c.gop, SIZE_MAX);
    EXPECT_EQ(count_of(result.out, "\r\n音声分割(2chから0chへ) Time:"), 1u) << result.out;
    EXPECT_NE(result.out.find("(rec_HD-a1.ts)\r\n"), std::string::npos) << result.out;

    EXPECT_EQ(first_difference(out("rec_HD.ts"), hd_output(input, 0, c.gop)), -1);
    const auto file = out("rec_HD-a1.ts");
    expect_file_start(file, c);
    const std::vector<Packet> body(file.begin() + std::min<std::size_t>(3, file.size()), file.end());
    EXPECT_EQ(first_difference(body, sepa_new_file_body(input, c)), -1);
}

TEST_F(AudioSplitE2E, Sepa2MovesTheGopWithoutItsAudio) {
    make_input({{60, 0}});
    run({"-SEPA2"});
    const Change c = find_change(input, 0);
    ASSERT_NE(c.gop, SIZE_MAX);
    std::vector<Packet> moved;
    bool marked = false;
    for (Packet p : hd_output(input, c.gop, c.at)) {
        const int pid = synth::pid_of(p);
        if (pid == kAudio) continue;
        if (pid == kVideo && !marked) {
            mark_broken_link(p);
            marked = true;
        }
        moved.push_back(p);
    }
    EXPECT_EQ(first_difference(out("rec_HD.ts"), old_file_of(input, c, 2)), -1);
    const auto file = out("rec_HD-a1.ts");
    expect_file_start(file, c);
    std::vector<Packet> body = moved;
    for (const auto& p : hd_output(input, c.at, input.size())) body.push_back(p);
    EXPECT_EQ(first_difference(std::vector<Packet>(file.begin() + 3, file.end()), body), -1);
}

TEST_F(AudioSplitE2E, Sepa3MovesTheGopWithItsAudioAndSplitsTheAudioAtTheGopStart) {
    make_input({{60, 0}});
    run({"-SEPA3"});
    const Change c = find_change(input, 0);
    ASSERT_NE(c.gop, SIZE_MAX);
    std::vector<Packet> body;
    bool marked = false;
    for (Packet p : hd_output(input, c.gop, c.at)) {
        const int pid = synth::pid_of(p);
        if (pid == kVideo && !marked) {
            mark_broken_link(p);
            marked = true;
        }
        body.push_back(p);
    }
    for (const auto& p : hd_output(input, c.at, input.size())) body.push_back(p);
    EXPECT_EQ(first_difference(out("rec_HD.ts"), old_file_of(input, c, 3)), -1);
    const auto file = out("rec_HD-a1.ts");
    expect_file_start(file, c);
    EXPECT_EQ(first_difference(std::vector<Packet>(file.begin() + 3, file.end()), body), -1);
}

TEST_F(AudioSplitE2E, ReturningStereoWritesOnInTheFirstFile) {
    make_input({{50, 0}, {100, 2}}, 4.0);
    run({"-SEPA", "-GOP"});
    EXPECT_EQ(hd_files(), (std::vector<std::string>{"rec_HD-a1.ts", "rec_HD.ts"}));
    EXPECT_EQ(count_of(result.out, "音声分割(2chから0chへ)"), 1u) << result.out;
    EXPECT_EQ(count_of(result.out, "音声分割(0chから2chへ)"), 1u) << result.out;
    EXPECT_NE(result.out.find("(rec_HD.ts)\r\n"), std::string::npos) << result.out;
    // The first file ends with the input's last HD packets: it took the stereo stretch at the end.
    const auto first = out("rec_HD.ts");
    const auto all = hd_output(input, 0, input.size());
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.back(), all.back());
    // Both lists are complete, each counting its own file's packets.
    for (const std::string name : {"rec_HD.ts", "rec_HD-a1.ts"}) {
        const std::string list = text(name + ".txt");
        EXPECT_EQ(list.rfind("TS_CUT2\r\n\r\n", 0), 0u) << name;
        EXPECT_NE(list.find("LAST       ," + std::to_string(out(name).size()) + "\r\n"), std::string::npos)
            << name << "\n" << list;
        EXPECT_EQ(count_of(list, "END\r\n"), 1u) << list;
    }
}

// The new mode's file cannot be written (here it is a full device): the split's own writes (PAT,
// PMT, PCR) report it at once and end the input, as every failed write does.
TEST_F(AudioSplitE2E, FailedWriteOfTheNewFileEndsTheInput) {
    if (!e2e::file_exists("/dev/full")) GTEST_SKIP();
    make_input({{50, 0}});
    ASSERT_EQ(symlink("/dev/full", dir.file("rec_HD-a1.ts").c_str()), 0);
    result = e2e::run_quillodine({"-SEPA", "rec.ts"}, dir.path);
    EXPECT_EQ(result.exit_code, 2);
    const std::size_t split = result.out.find("(rec_HD-a1.ts)\r\n");
    ASSERT_NE(split, std::string::npos) << result.out;
    EXPECT_EQ(result.out.substr(split + 16), "\nerror - failed on write() [rec_HD-a1.ts]\n") << result.out;
}

// -SEPAC, -SEPA2C, -SEPA3C: the first file ends as under the option without C.
TEST_F(AudioSplitE2E, SepacGivesEveryStretchItsOwnNumberedFile) {
    make_input({{50, 0}, {100, 2}}, 4.0);
    const Change c = find_change(input, 0);
    ASSERT_NE(c.gop, SIZE_MAX);
    for (int mode : {1, 2, 3}) {
        const std::string option = mode == 1 ? "-SEPAC" : "-SEPA" + std::to_string(mode) + "C";
        SCOPED_TRACE(option);
        for (const std::string& name : e2e::list_dir(dir.path))
            if (name != "rec.ts") std::remove(dir.file(name).c_str());
        run({option, "-GOP"});
        EXPECT_EQ(hd_files(), (std::vector<std::string>{"rec_HD-1.ts", "rec_HD-2.ts", "rec_HD.ts"}));
        EXPECT_NE(result.out.find("(rec_HD-1.ts)\r\n"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("(rec_HD-2.ts)\r\n"), std::string::npos) << result.out;
        for (const std::string name : {"rec_HD.ts", "rec_HD-1.ts", "rec_HD-2.ts"}) {
            const std::string list = text(name + ".txt");
            EXPECT_NE(list.find("LAST       ," + std::to_string(out(name).size()) + "\r\n"), std::string::npos)
                << name << "\n" << list;
        }
        EXPECT_EQ(first_difference(out("rec_HD.ts"), old_file_of(input, c, mode)), -1);
        // The dual-mono stretch has audio of that mode only, but under -SEPA3C, which moves the
        // stereo audio of the change's GOP along with it.
        std::set<int> modes_second;
        for (const auto& p : out("rec_HD-1.ts"))
            if (audio_mode(p) >= 0) modes_second.insert(audio_mode(p));
        EXPECT_EQ(modes_second, mode == 3 ? (std::set<int>{0, 2}) : (std::set<int>{0}));
    }
}

TEST_F(AudioSplitE2E, ChangeBeforeTheFirstGopMovesNothing) {
    // The recording starts inside a GOP: its video before the second GOP start is cut away, and
    // the audio turns to dual mono before that GOP start.
    make_input({{10, 0}});
    std::size_t second_gop = 0;
    for (std::size_t i = 0, seen = 0; i < input.size() && !second_gop; ++i)
        if (gop_start(input[i]) && ++seen == 2) second_gop = i;
    ASSERT_GT(second_gop, 0u);
    std::vector<Packet> cut;
    for (std::size_t i = 0; i < input.size(); ++i)
        if (i >= second_gop || synth::pid_of(input[i]) != kVideo) cut.push_back(input[i]);
    input = cut;
    write_input();
    const Change c = find_change(input, 0);
    ASSERT_EQ(c.gop, SIZE_MAX) << "the change must come before the first GOP start";
    run({"-SEPA"});
    EXPECT_EQ(first_difference(out("rec_HD.ts"), hd_output(input, 0, c.at)), -1);
    const auto file = out("rec_HD-a1.ts");
    expect_file_start(file, c);
    EXPECT_EQ(first_difference(std::vector<Packet>(file.begin() + 3, file.end()), sepa_new_file_body(input, c)), -1);
}

TEST_F(AudioSplitE2E, AudioTimeStampsAcrossTheWrapStillCountTheGuard) {
    // The clock wraps about one second in; the change comes after it.
    make_input({{70, 0}}, 3.0, std::uint64_t{0x1FFFFFFFF} - 90000);
    run({"-SEPA"});
    const Change c = find_change(input, 0);
    ASSERT_NE(c.gop, SIZE_MAX);
    EXPECT_EQ(first_difference(out("rec_HD.ts"), hd_output(input, 0, c.gop)), -1);
    const auto file = out("rec_HD-a1.ts");
    expect_file_start(file, c);
    EXPECT_EQ(first_difference(std::vector<Packet>(file.begin() + 3, file.end()), sepa_new_file_body(input, c)), -1);
}

// The look-ahead reads far past the current chunk; what it reads is descrambled like every
// chunk, or the later headers of scrambled audio would not be found and the change cancelled.
TEST_F(AudioSplitE2E, LookAheadDescramblesWhatItReads) {
    make_input({{60, 0}});
    const std::vector<Packet> clear = input;
    run({"-SEPA"});
    const auto clear_old = out("rec_HD.ts");
    const auto clear_new = out("rec_HD-a1.ts");
    ASSERT_FALSE(clear_new.empty());

    e2e::TempDir other;
    const std::string exe = other.file("Quillodine");
    e2e::write_file(exe, e2e::read_file(e2e::quillodine_binary()));
    chmod(exe.c_str(), 0755);
    e2e::write_file(other.file("B25Decoder.so"), e2e::read_file(SUBSTITUTE_B25_LIBRARY));
    Bytes scrambled;
    for (Packet p : clear) {
        if (synth::pid_of(p) == kAudio && (synth::afc_of(p) & 1)) substitute::scramble(p.data());
        scrambled.insert(scrambled.end(), p.begin(), p.end());
    }
    e2e::write_file(other.file("rec.ts"), scrambled);
    const e2e::RunResult r = e2e::run_program({"-B252", "-SEPA", "rec.ts"}, other.path, {}, exe);
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_EQ(count_of(r.out, "音声分割(2chから0chへ)"), 1u) << r.out;
    EXPECT_EQ(first_difference(packets_of(e2e::read_file(other.file("rec_HD.ts"))), clear_old), -1);
    EXPECT_EQ(first_difference(packets_of(e2e::read_file(other.file("rec_HD-a1.ts"))), clear_new), -1);
}

TEST_F(AudioSplitE2E, GopOnlyTracksModesForLabelsWithoutSplitting) {
    // Without stream output every PID's audio is looked at; broadcast one-segment audio runs at
    // 24 kHz and is passed over, the synthesizer's runs at 48 kHz and is left out here.
    make_input({{60, 0}}, 3.0, {}, false);
    run({"-GOPONLYCH", "-SEPA"});
    EXPECT_TRUE(hd_files().empty());
    EXPECT_EQ(result.out.find("音声分割"), std::string::npos) << result.out;
    const std::string list = text("rec.ts.txt");
    EXPECT_GT(count_of(list, ",AudioCh02,"), 0u) << list;
    EXPECT_GT(count_of(list, ",AudioCh00,"), 0u) << list;
}

TEST_F(AudioSplitE2E, TraceLinesAreOffByDefaultAndStayOffStandardOutput) {
    make_input({{60, 0}});
    const e2e::RunResult quiet = e2e::run_program({"-SEPA", "rec.ts"}, dir.path);
    ASSERT_EQ(quiet.exit_code, 0) << quiet.out;
    EXPECT_EQ(quiet.err.find("音声種別が切り替わった"), std::string::npos) << quiet.err;
    const e2e::RunResult traced = e2e::run_program({"-SEPA", "rec.ts"}, dir.path, {{"QUILLODINE_TRACE", "1"}});
    ASSERT_EQ(traced.exit_code, 0) << traced.out;
#ifdef QUILL_E2E_WINDOWS_PROGRAM
    // The Windows program hands its trace to the debugger channel, which no stream shows.
    EXPECT_EQ(traced.err.find("音声種別が切り替わった"), std::string::npos) << traced.err;
#else
    EXPECT_EQ(count_of(traced.err, "音声種別が切り替わった 2 -> 0("), 1u) << traced.err;
#endif
    // Standard output, which the front end reads, is the same with and without the trace.
    EXPECT_EQ(traced.out, quiet.out);
}

}  // namespace
