// GOP lists and -PTS end to end: the real binary on synthesized recordings. Expected lists are
// derived here by scanning the files Quillodine wrote (or read), not by reusing its code.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "synth.h"

namespace {

using e2e::Bytes;

std::string text_of(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::string clock_text(std::uint64_t t) {
    char s[32];
    std::snprintf(s, sizeof s, "%02d:%02d:%02d:%03d", int(t / 324000000), int(t / 5400000 % 60), int(t / 90000 % 60),
                  int(t % 90000 / 90));
    return s;
}

synth::Packet packet_at(const Bytes& file, std::size_t i) {
    synth::Packet p;
    std::copy(file.begin() + std::ptrdiff_t(i * 188), file.begin() + std::ptrdiff_t(i * 188 + 188), p.begin());
    return p;
}

// The first elementary start code behind the PES header (PES_header_data_length honoured) of a
// video PES start; -1 when the packet is none or the code lies beyond it.
int first_video_start_code(const synth::Packet& p) {
    if (!synth::pusi_of(p) || !synth::pes_pts_of(p)) return -1;
    const std::size_t o = synth::payload_offset(p);
    if ((p[o + 3] & 0xF0) != 0xE0) return -1;
    const std::size_t es = o + 9 + p[o + 8];
    for (std::size_t i = es; i + 3 < 188; ++i)
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) return p[i + 3];
    return -1;
}

// The list a file should get: one line per GOP start of the PIDs chosen, with labels given by
// `label(index, pts)`, then the trailer with the packet count.
template <typename Label>
std::string expected_list(const Bytes& file, bool (*pid_chosen)(int), Label label) {
    std::string out = "TS_CUT2\r\n\r\n";
    const std::size_t n = file.size() / 188;
    for (std::size_t i = 0; i < n; ++i) {
        const synth::Packet p = packet_at(file, i);
        if (!pid_chosen(synth::pid_of(p)) || first_video_start_code(p) != 0xB3) continue;
        const std::uint64_t pts = *synth::pes_pts_of(p);
        char line[160];
        std::snprintf(line, sizeof line, "%04x,%s,%s,%llu,%zu\r\n", synth::pid_of(p), label(i, pts).c_str(),
                      clock_text(pts).c_str(), static_cast<unsigned long long>(pts), i);
        out += line;
    }
    return out + "LAST       ," + std::to_string(n) + "\r\nPID_VIDEO,0000\r\nTSPAC_TYPE,188\r\nEND\r\n";
}

bool hd_video(int pid) { return pid == 0x0111; }
bool any_stream_pid(int pid) { return pid >= 0x30 && pid <= 0x1FFE; }
std::string no_label(std::size_t, std::uint64_t) { return ""; }

synth::Config seconds(double s) { return {.seconds = s}; }

TEST(GopListEndToEnd, HdListHoldsEveryGopStartOfTheWrittenFile) {
    e2e::TempDir dir;
    ASSERT_TRUE(synth::write_file(dir.file("rec.ts"), synth::hd_multiplex(), seconds(3)));
    const e2e::RunResult r = e2e::run_quillodine({"-GOP", "rec.ts"}, dir.path);
    ASSERT_EQ(r.exit_code, 0) << r.out;
    const Bytes ts = e2e::read_file(dir.file("rec_HD.ts"));
    const std::string list = text_of(e2e::read_file(dir.file("rec_HD.ts.txt")));
    EXPECT_EQ(list, expected_list(ts, hd_video, no_label));
    EXPECT_GE(std::count(list.begin(), list.end(), '\n'), 2 + 5 + 4);  // a GOP every 0.5 s
    EXPECT_EQ(list.find("\n"), list.find("\r\n") + 1);  // CR LF, never a bare LF
    std::size_t bare = 0;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i] == '\n' && (i == 0 || list[i - 1] != '\r')) ++bare;
    EXPECT_EQ(bare, 0u);
}

// A small recording, packet by packet: PAT, PMT, then GOPs every 0.5 s; a stereo audio frame
// after the first GOP, a TOT of 20:00:00 after the second.
Bytes labelled_recording() {
    synth::Mux mux;
    const synth::Service hd{.service_id = 0x0400, .pmt_pid = 0x01F0, .pcr_pid = 0x01FF,
                            .streams = {{0x02, 0x0111}, {0x0F, 0x0112}}};
    mux.pat(0x7FE8, {{0x0400, 0x01F0}});
    mux.pmt(hd);
    mux.pcr(0x01FF, 900000);
    for (int gop = 0; gop < 4; ++gop) {
        const std::uint64_t pts = 900000 + 45045 * std::uint64_t(gop);
        mux.pes_video(0x0111, {.type = synth::Picture::I, .pts = pts, .size = 900});
        mux.pes_video(0x0111, {.type = synth::Picture::P, .pts = pts + 3003, .sequence_header = false, .size = 500});
        if (gop == 0) mux.pes_audio(0x0112, {.pts = pts, .channel_configuration = 2});
        if (gop == 1) mux.tot({.hour = 20});
        mux.null(2);
    }
    return synth::to_units(mux.packets);
}

TEST(GopListEndToEnd, ChannelAndTimeLabels) {
    e2e::TempDir dir;
    e2e::write_file(dir.file("rec.ts"), labelled_recording());
    struct Case {
        std::vector<std::string> options;
        std::vector<std::string> labels;  // per GOP
        std::string listed = "rec_HD.ts";  // the stream the list counts the packets of
    } cases[] = {
        {{"-GOPCH"}, {"", "AudioCh02", "AudioCh02", "AudioCh02"}},
        {{"-GOPTIME"}, {"", "", "20:00:00:000", "20:00:00:500"}},
        {{"-GOPCH", "-GOPTIME"}, {"", "Ch02", "Ch02(20:00:00:000)", "Ch02(20:00:00:500)"}},
        {{"-GOPTIME", "-GOPCH"}, {"", "Ch02", "Ch02(20:00:00:000)", "Ch02(20:00:00:500)"}},
        {{"-GOPONLYTIME"}, {"", "", "20:00:00:000", "20:00:00:500"}, "rec.ts"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.options;
        args.push_back("rec.ts");
        const e2e::RunResult r = e2e::run_quillodine(args, dir.path);
        ASSERT_EQ(r.exit_code, 0) << r.out;
        const Bytes ts = e2e::read_file(dir.file(c.listed));
        int gop = 0;
        const std::string want =
            expected_list(ts, hd_video, [&](std::size_t, std::uint64_t) { return c.labels.at(std::size_t(gop++)); });
        EXPECT_EQ(text_of(e2e::read_file(dir.file(c.listed + ".txt"))), want) << c.options[0];
        EXPECT_EQ(gop, 4);
    }
}

TEST(GopListEndToEnd, GopOnlyListsTheInputItselfAndWritesNoStream) {
    e2e::TempDir dir;
    ASSERT_TRUE(synth::write_file(dir.file("rec.ts"), synth::hd_multiplex(), seconds(2)));
    const e2e::RunResult r = e2e::run_quillodine({"-GOPONLY", "rec.ts"}, dir.path);
    ASSERT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.rfind("GOP作成モードオン\nrec.ts\n\r  (", 0), 0u) << r.out;
    EXPECT_EQ(e2e::list_dir(dir.path), (std::vector<std::string>{"rec.ts", "rec.ts.txt"}));
    // Numbers count the input's packets, null packets included; every video PID is listed.
    const Bytes input = e2e::read_file(dir.file("rec.ts"));
    const std::string list = text_of(e2e::read_file(dir.file("rec.ts.txt")));
    EXPECT_EQ(list, expected_list(input, any_stream_pid, no_label));
    EXPECT_NE(list.find("\r\n0181,"), std::string::npos);  // the one-segment video too

    // With -OUT the list goes there, still named after the input.
    e2e::TempDir out;
    ASSERT_EQ(e2e::run_quillodine({"-GOPONLYCH", "-OUT", out.path + "/", "rec.ts"}, dir.path).exit_code, 0);
    EXPECT_EQ(e2e::list_dir(out.path), std::vector<std::string>{"rec.ts.txt"});
}

// ---------------------------------------------------------------------------
// -PTS

struct Stamps {
    std::vector<std::int64_t> values;  // every PTS, DTS and PCR base in file order
};

// Where a time stamp lies in a file: a PCR field (the adaptation field's 6 bytes) or a PTS/DTS
// field (5 bytes of a PES header).
struct StampField {
    std::size_t at;
    bool pcr;
};

std::vector<StampField> stamp_fields(const Bytes& file) {
    std::vector<StampField> fields;
    for (std::size_t i = 0; i < file.size() / 188; ++i) {
        const synth::Packet p = packet_at(file, i);
        if (synth::pcr_base_of(p)) fields.push_back({i * 188 + 6, true});
        if (!synth::pusi_of(p)) continue;
        const std::size_t o = synth::payload_offset(p);
        if (o + 19 > 188 || p[o] != 0 || p[o + 1] != 0 || p[o + 2] != 1) continue;
        const int id = p[o + 3];
        if ((id & 0xF0) != 0xE0 && (id & 0xF0) != 0xC0 && id != 0xBD) continue;
        if (p[o + 7] & 0x80) fields.push_back({i * 188 + o + 9, false});
        if ((p[o + 7] & 0xC0) == 0xC0) fields.push_back({i * 188 + o + 14, false});
    }
    return fields;
}

Stamps time_stamps(const Bytes& file) {
    Stamps s;
    for (const StampField& f : stamp_fields(file)) {
        const std::uint8_t* b = &file[f.at];
        if (f.pcr)
            s.values.push_back((std::int64_t(b[0]) << 25) | (std::int64_t(b[1]) << 17) | (std::int64_t(b[2]) << 9) |
                               (std::int64_t(b[3]) << 1) | (b[4] >> 7));
        else
            s.values.push_back((std::int64_t(b[0] & 0x0E) << 29) | (std::int64_t(b[1]) << 22) |
                               (std::int64_t(b[2] & 0xFE) << 14) | (std::int64_t(b[3]) << 7) | (b[4] >> 1));
    }
    return s;
}

// The file with the value bits of every time stamp cleared; prefixes, marker bits, reserved bits
// and the PCR extension stay.
Bytes without_stamp_values(Bytes file) {
    for (const StampField& f : stamp_fields(file)) {
        std::uint8_t* b = &file[f.at];
        b[1] = b[3] = 0;
        if (f.pcr) {
            b[0] = b[2] = 0;
            b[4] &= 0x7F;
        } else {
            b[0] &= 0xF1;
            b[2] &= 0x01;
            b[4] &= 0x01;
        }
    }
    return file;
}

TEST(PtsEndToEnd, EveryTimeStampMovesByOneDistanceAndEachInputStartsAtOneHour) {
    e2e::TempDir dir;
    ASSERT_TRUE(synth::write_file(dir.file("rec.ts"), synth::hd_multiplex(), seconds(2)));
    e2e::write_file(dir.file("rec2.ts"), e2e::read_file(dir.file("rec.ts")));
    ASSERT_EQ(e2e::run_quillodine({"rec.ts"}, dir.path).exit_code, 0);
    const Bytes plain = e2e::read_file(dir.file("rec_HD.ts"));
    ASSERT_EQ(e2e::run_quillodine({"-PTS", "rec.ts", "rec2.ts"}, dir.path).exit_code, 0);
    const Bytes moved = e2e::read_file(dir.file("rec_HD.ts"));

    const Stamps before = time_stamps(plain);
    const Stamps after = time_stamps(moved);
    ASSERT_EQ(before.values.size(), after.values.size());
    ASSERT_GT(before.values.size(), 100u);
    const std::int64_t shift = after.values[0] - before.values[0];
    for (std::size_t i = 0; i < before.values.size(); ++i)
        ASSERT_EQ(after.values[i] - before.values[i], shift) << i;
    // The base is the first time stamp of the input: the earliest value lands at one hour or,
    // for stamps met before the base (audio ahead of video), a little before it.
    EXPECT_EQ(*std::min_element(after.values.begin(), after.values.end()) <= 324000000, true);
    EXPECT_NE(std::find(after.values.begin(), after.values.end(), 324000000), after.values.end());
    // The second input of the run starts again from one hour: the same bytes.
    EXPECT_EQ(e2e::read_file(dir.file("rec2_HD.ts")), moved);
    // Nothing else changed.
    ASSERT_EQ(plain.size(), moved.size());
    EXPECT_TRUE(without_stamp_values(plain) == without_stamp_values(moved));
}

TEST(PtsEndToEnd, FirstVideoPtsBecomesOneHour) {
    e2e::TempDir dir;
    e2e::write_file(dir.file("rec.ts"), labelled_recording());
    ASSERT_EQ(e2e::run_quillodine({"-PTS", "-GOP", "rec.ts"}, dir.path).exit_code, 0);
    const std::string list = text_of(e2e::read_file(dir.file("rec_HD.ts.txt")));
    // The PCR came first (900000, equal to the first video PTS): both become one hour.
    EXPECT_NE(list.find("\r\n0111,,01:00:00:000,324000000,"), std::string::npos) << list;
    EXPECT_NE(list.find("\r\n0111,,01:00:00:500,324045045,"), std::string::npos) << list;
}

TEST(PtsEndToEnd, CopyModesChangeNoByte) {
    e2e::TempDir dir;
    ASSERT_TRUE(synth::write_file(dir.file("rec.ts"), synth::hd_multiplex(), seconds(1)));
    const Bytes input = e2e::read_file(dir.file("rec.ts"));
    ASSERT_EQ(e2e::run_quillodine({"-NULL", "-PTS", "rec.ts"}, dir.path).exit_code, 0);
    Bytes non_null;
    for (std::size_t i = 0; i < input.size() / 188; ++i)
        if (synth::pid_of(packet_at(input, i)) != synth::kPidNull)
            non_null.insert(non_null.end(), input.begin() + std::ptrdiff_t(i * 188),
                            input.begin() + std::ptrdiff_t(i * 188 + 188));
    EXPECT_EQ(e2e::read_file(dir.file("rec_NULL.ts")), non_null);

    ASSERT_EQ(e2e::run_quillodine({"-GOPONLY", "-PTS", "rec.ts"}, dir.path).exit_code, 0);
    EXPECT_EQ(text_of(e2e::read_file(dir.file("rec.ts.txt"))), expected_list(input, any_stream_pid, no_label));
    EXPECT_EQ(e2e::read_file(dir.file("rec.ts")), input);
}

// ---------------------------------------------------------------------------
// CS recordings: the slots learn their audio PID, so -GOPCH labels work there too.

TEST(GopListEndToEnd, CsOutputsGetChannelLabels) {
    e2e::TempDir dir;
    ASSERT_TRUE(synth::write_file(dir.file("rec.ts"), synth::cs_multiplex(), seconds(2)));
    ASSERT_EQ(e2e::run_quillodine({"-GOPCH", "rec.ts"}, dir.path).exit_code, 0);
    int lists = 0;
    for (const std::string& name : e2e::list_dir(dir.path)) {
        if (name.size() < 7 || name.substr(name.size() - 7) != ".ts.txt") continue;
        ++lists;
        const std::string list = text_of(e2e::read_file(dir.file(name)));
        EXPECT_NE(list.find(",AudioCh02,"), std::string::npos) << name << "\n" << list;
    }
    EXPECT_EQ(lists, 3);
}

}  // namespace
