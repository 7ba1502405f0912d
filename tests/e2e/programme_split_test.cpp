// Programme and PMT splits end to end (-SEP, -SEP2, -SEP3, -OVL). Each test runs the binary twice
// on one synthesized recording: once without splitting, which gives the whole stream S of an
// output, and once with the splits. The split files are then derived from S alone:
//
//   cut c        = position in S of the packet that announces the change (the EIT section 0 with
//                  the new present event, or the PMT with the new version); it is the first packet
//                  of the new file's own part.
//   old file     = S[start, c) + S[c, c + xx2 * 1024)            (xx2 > 0)
//                = S[start, c) without its last -xx2 * 1024      (xx2 < 0)
//   new file     = PAT, PMT, S[c - xx1 * 1024, c), S[c, ...)     with a replay: the PAT and PMT
//                                                                are the first ones replayed
//                = PAT, PMT, S[c, ...)                           without: the last PAT and PMT
//                                                                the old file received
//
// and compared byte for byte. GOP lists are checked against the GOP starts found in each file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "synth.h"

namespace {

using e2e::Bytes;
using Packets = std::vector<Bytes>;

constexpr int kHdVideo = 0x0111;
constexpr int kHdPmt = 0x01F0;
constexpr long long kK = 1024;

int pid_of(const Bytes& p) { return ((p[1] & 0x1F) << 8) | p[2]; }
bool unit_start(const Bytes& p) { return (p[1] & 0x40) != 0; }
int payload_at(const Bytes& p) { return (p[3] & 0x20) ? 5 + p[4] : 4; }

Packets read_packets(const std::string& path) { return e2e::split_packets(e2e::read_file(path)); }

Bytes join(const Packets& packets) {
    Bytes b;
    for (const auto& p : packets) b.insert(b.end(), p.begin(), p.end());
    return b;
}

Packets slice(const Packets& s, long long from, long long to) {
    from = std::max(0LL, from);
    to = std::min(static_cast<long long>(s.size()), to);
    return from < to ? Packets(s.begin() + from, s.begin() + to) : Packets{};
}

void append(Packets& to, const Packets& more) { to.insert(to.end(), more.begin(), more.end()); }

bool is_pmt(const Bytes& p, int pmt_pid) { return pid_of(p) == pmt_pid && unit_start(p) && p[4] == 0 && p[5] == 0x02; }
int pmt_version(const Bytes& p) { return (p[10] >> 1) & 0x1F; }

// Position of the first EIT p/f section 0 of `service` announcing `event` as present.
long long eit_cut(const Packets& s, int service, int event) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const Bytes& p = s[i];
        if (pid_of(p) == 0x0012 && unit_start(p) && p[5] == 0x4E && p[11] == 0 && ((p[8] << 8) | p[9]) == service &&
            ((p[19] << 8) | p[20]) == event)
            return static_cast<long long>(i);
    }
    ADD_FAILURE() << "no EIT for event " << event;
    return 0;
}

long long pmt_cut(const Packets& s, int pmt_pid, int version) {
    for (std::size_t i = 0; i < s.size(); ++i)
        if (is_pmt(s[i], pmt_pid) && pmt_version(s[i]) == version) return static_cast<long long>(i);
    ADD_FAILURE() << "no PMT version " << version;
    return 0;
}

// The first (or last) packet in [from, to) that `match` accepts.
template <typename Match>
Bytes find_in(const Packets& s, long long from, long long to, bool last, Match match) {
    Bytes found;
    for (long long i = std::max(0LL, from); i < to && i < static_cast<long long>(s.size()); ++i)
        if (match(s[static_cast<std::size_t>(i)])) {
            found = s[static_cast<std::size_t>(i)];
            if (!last) break;
        }
    EXPECT_FALSE(found.empty());
    return found;
}

// PAT and PMT at the start of a new file: the first ones of the replayed stretch, or the last ones
// the old file received when nothing is replayed.
Packets file_start(const Packets& s, long long from, long long to, bool last, int pmt_pid) {
    return {find_in(s, from, to, last, [](const Bytes& p) { return pid_of(p) == 0; }),
            find_in(s, from, to, last, [&](const Bytes& p) { return is_pmt(p, pmt_pid); })};
}

// A file that starts at a cut without replayed pictures has the broken_link flag of its first GOP
// header set (ISO/IEC 13818-2 group_of_pictures_header, bit 5 of its fourth byte).
void mark_first_gop(Packets& file, std::size_t from, int video_pid) {
    for (std::size_t i = from; i < file.size(); ++i) {
        Bytes& p = file[i];
        if (pid_of(p) != video_pid || !unit_start(p)) continue;
        for (std::size_t k = static_cast<std::size_t>(payload_at(p)); k + 8 < p.size(); ++k)
            if (p[k] == 0 && p[k + 1] == 0 && p[k + 2] == 1 && p[k + 3] == 0xB8) {
                p[k + 7] |= 0x20;
                return;
            }
    }
    ADD_FAILURE() << "no GOP header";
}

// GOP starts of a file: a video PES start whose first start code behind the PES header is a
// sequence header.
std::vector<long long> gop_starts(const Packets& file, int video_pid) {
    std::vector<long long> starts;
    for (std::size_t i = 0; i < file.size(); ++i) {
        const Bytes& p = file[i];
        if (pid_of(p) != video_pid || !unit_start(p)) continue;
        const int pes = payload_at(p);
        if (pes + 14 > 188 || p[pes] != 0 || p[pes + 1] != 0 || p[pes + 2] != 1) continue;
        for (int k = pes + 14; k + 3 < 188; ++k)
            if (p[k] == 0 && p[k + 1] == 0 && p[k + 2] == 1) {
                if (p[k + 3] == 0xB3) starts.push_back(static_cast<long long>(i));
                break;
            }
    }
    return starts;
}

// The list beside a stream file: its packet numbers must be the file's own GOP starts and LAST
// its packet count.
void expect_gop_list_matches(const std::string& list_path, const Packets& file, int video_pid) {
    const Bytes raw = e2e::read_file(list_path);
    const std::string text(raw.begin(), raw.end());
    ASSERT_EQ(text.rfind("TS_CUT2\r\n\r\n", 0), 0u) << list_path;
    std::vector<long long> numbers;
    long long last = -1;
    std::size_t at = 11;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << list_path;
        const std::string line = text.substr(at, end - at);
        at = end + 2;
        if (line.rfind("LAST", 0) == 0) {
            last = std::stoll(line.substr(line.find(',') + 1));
            continue;
        }
        if (line.rfind("PID_VIDEO", 0) == 0 || line.rfind("TSPAC_TYPE", 0) == 0 || line == "END") continue;
        numbers.push_back(std::stoll(line.substr(line.rfind(',') + 1)));
    }
    EXPECT_EQ(numbers, gop_starts(file, video_pid)) << list_path;
    EXPECT_EQ(last, static_cast<long long>(file.size())) << list_path;
}

std::string write_input(const e2e::TempDir& dir, const synth::Multiplex& m, std::uint64_t packets,
                        std::vector<synth::TimedChange> changes) {
    const std::string path = dir.file("rec.ts");
    EXPECT_TRUE(synth::write_file(path, m, {.packets = packets}, synth::Unit::u188, std::move(changes)));
    return path;
}

// Runs with `args` on a copy of the input in a fresh folder of its own.
struct SplitRun {
    e2e::TempDir dir;
    e2e::RunResult result;
    SplitRun(const std::string& input, std::vector<std::string> args) {
        e2e::write_file(dir.file("rec.ts"), e2e::read_file(input));
        args.push_back("rec.ts");
        result = e2e::run_quillodine(args, dir.path);
        EXPECT_EQ(result.exit_code, 0) << result.out;
    }
    Packets packets(const std::string& name) const { return read_packets(dir.file(name)); }
    std::vector<std::string> outputs() const {
        std::vector<std::string> names = e2e::list_dir(dir.path);
        names.erase(std::remove(names.begin(), names.end(), "rec.ts"), names.end());
        return names;
    }
};

// The file names of the split lines "\r\n<word> PTS|Time:hh:mm:ss:mmm(<name>)\r\n" in `out`.
std::vector<std::string> split_lines(const std::string& out, const std::string& word) {
    std::vector<std::string> lines;
    const std::string start = "\r\n" + word + " ";
    for (std::size_t p = out.find(start); p != std::string::npos; p = out.find(start, p + 1)) {
        std::size_t q = p + start.size();
        if (out.compare(q, 4, "PTS:") == 0) q += 4;
        else if (out.compare(q, 5, "Time:") == 0) q += 5;
        else continue;
        const std::string c = q + 12 <= out.size() ? out.substr(q, 12) : std::string();  // hh:mm:ss:mmm
        auto digits = [&](std::size_t from, std::size_t n) {
            for (std::size_t i = from; i < from + n; ++i)
                if (c[i] < '0' || c[i] > '9') return false;
            return true;
        };
        if (c.size() != 12 || !digits(0, 2) || c[2] != ':' || !digits(3, 2) || c[5] != ':' || !digits(6, 2) ||
            c[8] != ':' || !digits(9, 3))
            continue;
        q += 12;
        if (q >= out.size() || out[q] != '(') continue;
        const std::size_t close = out.find(")\r\n", q);  // CS names hold brackets of their own
        if (close == std::string::npos) continue;
        const std::string name = out.substr(q + 1, close - q - 1);
        if (name.find('\n') != std::string::npos) continue;
        lines.push_back(name);
    }
    return lines;
}

// Three programmes of the HD service: the present event changes twice. The EIT's section 1 names
// the following event (always another id) and must never split.
std::vector<synth::TimedChange> three_programmes(std::uint64_t first, std::uint64_t second) {
    return {synth::event_change(first, 0x0400, 2), synth::event_change(second, 0x0400, 3)};
}

TEST(ProgrammeSplitE2E, ThreeProgrammesGiveThreeFilesAndTheOneSegmentServiceFollows) {
    e2e::TempDir in;
    const std::string input = write_input(in, synth::hd_multiplex(), 60000, three_programmes(20000, 40000));
    const SplitRun whole(input, {"-EIT"});
    const SplitRun split(input, {"-EIT", "-SEP"});

    EXPECT_EQ(split.outputs(), (std::vector<std::string>{"rec_1SEG-1.ts", "rec_1SEG-2.ts", "rec_1SEG.ts",
                                                         "rec_HD-1.ts", "rec_HD-2.ts", "rec_HD.ts"}));
    EXPECT_EQ(split_lines(split.result.out, "EPG分割"), (std::vector<std::string>{"rec_HD-1.ts", "rec_HD-2.ts"}));

    const Packets s = whole.packets("rec_HD.ts");
    const long long c1 = eit_cut(s, 0x0400, 2);
    const long long c2 = eit_cut(s, 0x0400, 3);
    Packets want0 = slice(s, 0, c1);
    Packets want1 = file_start(s, 0, c1, true, kHdPmt);
    append(want1, slice(s, c1, c2));
    mark_first_gop(want1, 2, kHdVideo);
    Packets want2 = file_start(s, 0, c2, true, kHdPmt);
    append(want2, slice(s, c2, static_cast<long long>(s.size())));
    mark_first_gop(want2, 2, kHdVideo);
    EXPECT_TRUE(join(split.packets("rec_HD.ts")) == join(want0));
    EXPECT_TRUE(join(split.packets("rec_HD-1.ts")) == join(want1));
    EXPECT_TRUE(join(split.packets("rec_HD-2.ts")) == join(want2));

    // The one-segment files together hold the whole one-segment stream, each behind its PAT and PMT.
    const Packets oneseg = whole.packets("rec_1SEG.ts");
    Packets joined = split.packets("rec_1SEG.ts");
    for (const char* name : {"rec_1SEG-1.ts", "rec_1SEG-2.ts"}) {
        const Packets part = split.packets(name);
        ASSERT_GT(part.size(), 2u);
        EXPECT_EQ(pid_of(part[0]), 0);
        EXPECT_TRUE(is_pmt(part[1], 0x1FC8)) << name;
        append(joined, slice(part, 2, static_cast<long long>(part.size())));
    }
    EXPECT_TRUE(join(joined) == join(oneseg));
}

// On SD and CS multiplexes only the service whose programme changes is split; the one-segment
// service follows the first service's programmes only. A CS name keeps its service id before the
// split number.
TEST(ProgrammeSplitE2E, OnlyTheServiceWhoseProgrammeChangesSplits) {
    struct Case {
        synth::Multiplex multiplex;
        std::uint16_t service_id;
        std::string split_file;
        std::vector<std::string> files;
    } cases[] = {
        {synth::sd3_multiplex(), 0x0401, "rec_SD2-1.ts",
         {"rec_1SEG.ts", "rec_SD1.ts", "rec_SD2-1.ts", "rec_SD2.ts", "rec_SD3.ts"}},
        {synth::cs_multiplex(), 212, "rec_CS2(212)-1.ts",
         {"rec_CS1(211).ts", "rec_CS2(212)-1.ts", "rec_CS2(212).ts", "rec_CS3(213).ts"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.split_file);
        e2e::TempDir in;
        const std::string input = write_input(in, c.multiplex, 20000, {synth::event_change(10000, c.service_id, 7)});
        const SplitRun split(input, {"-SEP"});
        EXPECT_EQ(split.outputs(), c.files);
        EXPECT_EQ(split_lines(split.result.out, "EPG分割"), std::vector<std::string>{c.split_file});
    }
}

// -OVL10,5: the overlap timeline, byte for byte, whatever the write buffer's size; the GOP lists of
// the files follow them, the GOP starts of a trailing overlap in both lists.
TEST(ProgrammeSplitE2E, OverlapTimelineIsExactWithAnyBufferAndGopListsFollowTheFiles) {
    e2e::TempDir in;
    const std::string input = write_input(in, synth::hd_multiplex(), 90000, three_programmes(30000, 60000));
    const SplitRun whole(input, {"-EIT", "-1SEG"});
    const Packets s = whole.packets("rec_HD.ts");
    const long long n = static_cast<long long>(s.size());
    const long long c1 = eit_cut(s, 0x0400, 2);
    const long long c2 = eit_cut(s, 0x0400, 3);
    ASSERT_GT(c1, 10 * kK);
    ASSERT_GT(c2 - c1, 15 * kK);

    Packets want0 = slice(s, 0, c1 + 5 * kK);
    Packets want1 = file_start(s, c1 - 10 * kK, c1, false, kHdPmt);
    append(want1, slice(s, c1 - 10 * kK, c2 + 5 * kK));
    Packets want2 = file_start(s, c2 - 10 * kK, c2, false, kHdPmt);
    append(want2, slice(s, c2 - 10 * kK, n));

    for (const char* buffer : {"0", "10", "1"}) {
        SCOPED_TRACE(std::string("-BUFF ") + buffer);
        const SplitRun split(input, {"-EIT", "-1SEG", "-SEP", "-OVL10,5", "-GOP", "-BUFF", buffer});
        const Packets got0 = split.packets("rec_HD.ts");
        const Packets got1 = split.packets("rec_HD-1.ts");
        const Packets got2 = split.packets("rec_HD-2.ts");
        EXPECT_EQ(got0.size(), want0.size());
        EXPECT_EQ(got1.size(), want1.size());
        EXPECT_EQ(got2.size(), want2.size());
        EXPECT_TRUE(join(got0) == join(want0));
        EXPECT_TRUE(join(got1) == join(want1));
        EXPECT_TRUE(join(got2) == join(want2));
        expect_gop_list_matches(split.dir.file("rec_HD.ts.txt"), got0, kHdVideo);
        expect_gop_list_matches(split.dir.file("rec_HD-1.ts.txt"), got1, kHdVideo);
        expect_gop_list_matches(split.dir.file("rec_HD-2.ts.txt"), got2, kHdVideo);
        // The trailing overlap of the first file holds a GOP start, listed in both files' lists.
        const auto starts0 = gop_starts(got0, kHdVideo);
        EXPECT_TRUE(std::any_of(starts0.begin(), starts0.end(), [&](long long g) { return g >= c1; }));
    }
}

struct TsselectCounts {
    std::map<int, long long> total, drop;
};

// The tsselect log's counts for one file.
TsselectCounts logged_counts(const std::string& log, const std::string& name) {
    TsselectCounts c;
    const std::size_t at = log.find(name + "\r\n");
    EXPECT_NE(at, std::string::npos) << name;
    if (at == std::string::npos) return c;
    std::size_t line = at + name.size() + 2;
    while (line < log.size() && log.compare(line, 6, "  pid=") == 0) {
        const std::size_t end = log.find("\r\n", line);
        int pid = 0;
        long long total = 0, drop = 0;
        std::sscanf(log.c_str() + line, "  pid=0x%x, total=%lld, drop=%lld", &pid, &total, &drop);
        c.total[pid] = total;
        c.drop[pid] = drop;
        line = end + 2;
    }
    return c;
}

// -OVL0,-2: every file loses its last 2048 packets, at the split and at the end of the input; its
// GOP list keeps only the GOP starts before its new end and the statistics count what is left.
TEST(ProgrammeSplitE2E, NegativeOverlapCutsEveryFileBackWithItsListAndStatistics) {
    e2e::TempDir in;
    const std::string input = write_input(in, synth::hd_multiplex(), 60000, three_programmes(20000, 40000));
    const SplitRun whole(input, {"-1SEG", "-EIT"});
    const SplitRun split(input, {"-1SEG", "-EIT", "-SEP", "-OVL0,-2", "-GOP", "-LOGFILE"});
    const Packets s = whole.packets("rec_HD.ts");
    const long long c1 = eit_cut(s, 0x0400, 2);
    const long long c2 = eit_cut(s, 0x0400, 3);
    const long long n = static_cast<long long>(s.size());

    Packets want0 = slice(s, 0, c1 - 2 * kK);
    Packets want1 = file_start(s, 0, c1, true, kHdPmt);
    append(want1, slice(s, c1, c2));
    mark_first_gop(want1, 2, kHdVideo);
    want1.resize(want1.size() - 2 * kK);
    Packets want2 = file_start(s, 0, c2, true, kHdPmt);
    append(want2, slice(s, c2, n));
    mark_first_gop(want2, 2, kHdVideo);
    want2.resize(want2.size() - 2 * kK);

    const Bytes log_bytes = e2e::read_file(split.dir.file("rec_tsselect.log"));
    const std::string log(log_bytes.begin(), log_bytes.end());
    const std::vector<std::pair<std::string, Packets>> files = {
        {"rec_HD.ts", want0}, {"rec_HD-1.ts", want1}, {"rec_HD-2.ts", want2}};
    for (const auto& [name, want] : files) {
        SCOPED_TRACE(name);
        const Bytes got = e2e::read_file(split.dir.file(name));
        EXPECT_EQ(got.size(), want.size() * 188);
        EXPECT_TRUE(got == join(want));
        const Packets packets = e2e::split_packets(got);
        expect_gop_list_matches(split.dir.file(name + ".txt"), packets, kHdVideo);
        std::map<int, long long> totals;
        for (const Bytes& p : packets) ++totals[pid_of(p)];
        const TsselectCounts logged = logged_counts(log, name);
        EXPECT_EQ(logged.total, totals);
        for (const auto& [pid, drop] : logged.drop) EXPECT_EQ(drop, 0) << pid;
    }
}

// -SEP3 -OVL10,0,1,0: a new PMT version that keeps the video PID repeats the last 10240 packets at
// the start of the new file (behind their first PAT and PMT, and followed by a PAT for the new
// PMT); one that changes the video PID repeats nothing and empties the ring.
TEST(ProgrammeSplitE2E, PmtSplitRepeatsTheRingOnlyWhenTheVideoPidStays) {
    e2e::TempDir in;
    // One service id only: a video PID that changes in one of several PMTs sharing it would turn
    // the HD service into SD services until every PMT has followed.
    synth::Multiplex one = synth::hd_multiplex();
    one.services.erase(std::remove_if(one.services.begin(), one.services.end(),
                                      [](const synth::Service& sv) { return sv.service_id == 0x0401 || sv.service_id == 0x0402; }),
                       one.services.end());
    const std::string input =
        write_input(in, one, 60000,
                    {synth::pmt_version_change(20000, 0x0400), synth::pmt_version_change(40000, 0x0400, 0x0115)});
    const SplitRun whole(input, {"-1SEG"});
    const SplitRun split(input, {"-1SEG", "-SEP3", "-OVL10,0,1,0"});
    EXPECT_EQ(split.outputs(), (std::vector<std::string>{"rec_HD-1.ts", "rec_HD-2.ts", "rec_HD.ts"}));
    EXPECT_EQ(split_lines(split.result.out, "PMT分割"), (std::vector<std::string>{"rec_HD-1.ts", "rec_HD-2.ts"}));

    const Packets s = whole.packets("rec_HD.ts");
    const long long c1 = pmt_cut(s, kHdPmt, 1);
    const long long c2 = pmt_cut(s, kHdPmt, 2);
    ASSERT_GT(c1, 10 * kK);
    const Bytes last_pat = find_in(s, 0, c1, true, [](const Bytes& p) { return pid_of(p) == 0; });
    Packets want1 = file_start(s, c1 - 10 * kK, c1, false, kHdPmt);
    append(want1, slice(s, c1 - 10 * kK, c1));
    want1.push_back(last_pat);
    append(want1, slice(s, c1, c2));
    Packets want2 = {find_in(s, 0, c2, true, [](const Bytes& p) { return pid_of(p) == 0; })};
    append(want2, slice(s, c2, static_cast<long long>(s.size())));
    mark_first_gop(want2, 1, 0x0115);

    EXPECT_TRUE(join(split.packets("rec_HD.ts")) == join(slice(s, 0, c1)));
    EXPECT_TRUE(join(split.packets("rec_HD-1.ts")) == join(want1));
    const Packets got2 = split.packets("rec_HD-2.ts");
    EXPECT_EQ(got2.size(), want2.size());
    EXPECT_TRUE(join(got2) == join(want2));
}

// -SEP2: a programme change that also brings a new PMT version splits once.
TEST(ProgrammeSplitE2E, OneChangeInBothTablesSplitsOnce) {
    e2e::TempDir in;
    synth::TimedChange both = synth::event_change(20000, 0x0400, 2);
    const synth::TimedChange pmt = synth::pmt_version_change(20000, 0x0400);
    both.apply = [event = both.apply, pmt = pmt.apply](synth::Multiplex& m) {
        event(m);
        pmt(m);
    };
    const std::string input = write_input(in, synth::hd_multiplex(), 40000, {both});
    const SplitRun split(input, {"-1SEG", "-SEP2"});
    EXPECT_EQ(split.outputs(), (std::vector<std::string>{"rec_HD-1.ts", "rec_HD.ts"}));
    EXPECT_EQ(split_lines(split.result.out, "EPG分割").size() + split_lines(split.result.out, "PMT分割").size(), 1u);
}

// The overlaps are a matter of each output: a PMT split of SD1 across a video PID change (no
// overlap) must not cut short the trailing overlap of SD2, split just before.
TEST(ProgrammeSplitE2E, OneServicesPmtSplitLeavesTheOverlapsOfTheOthers) {
    e2e::TempDir in;
    const std::string input =
        write_input(in, synth::sd3_multiplex(), 50000,
                    {synth::pmt_version_change(20000, 0x0401), synth::pmt_version_change(21000, 0x0400, 0x0119)});
    const SplitRun whole(input, {"-1SEG"});
    const Packets s = whole.packets("rec_SD2.ts");
    const long long c = pmt_cut(s, 0x01F1, 1);
    for (const char* buffer : {"0", "10"}) {
        SCOPED_TRACE(std::string("-BUFF ") + buffer);
        const SplitRun split(input, {"-1SEG", "-SEP3", "-OVL0,5,1,0", "-BUFF", buffer});
        EXPECT_TRUE(e2e::file_exists(split.dir.file("rec_SD1-1.ts")));
        const Packets got = split.packets("rec_SD2.ts");
        // The trailing overlap carries the new file's first GOP with its broken_link mark.
        Packets want = slice(s, 0, c + 5 * kK);
        mark_first_gop(want, static_cast<std::size_t>(c), 0x0121);
        EXPECT_EQ(got.size(), want.size());
        EXPECT_TRUE(join(got) == join(want));
    }
}

}  // namespace
