// Per-PID statistics and the result logs end to end (-LOG, -LOGFILE): a three-SD recording with
// faults planted at known packets, the report on the console and in both logs, one pair of logs
// per input, and memory that grows with the PIDs that occur rather than with all 8192.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "synth.h"

namespace {

using e2e::Bytes;
using synth::Packet;

using e2e::concat;

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// Index of the n-th packet (0-based) of `pid`.
std::size_t nth_of(const std::vector<Packet>& packets, int pid, int n) {
    for (std::size_t i = 0; i < packets.size(); ++i)
        if (synth::pid_of(packets[i]) == pid && n-- == 0) return i;
    ADD_FAILURE() << "no packet " << n << " of pid " << pid;
    return 0;
}

struct Counts {
    long long total = 0, drop = 0, scrambling = 0, biterror = 0;
};

// What the report must say about one output file: totals, scrambled and errored packets read
// from the file itself, drops as planted.
std::map<int, Counts> counts_of_file(const Bytes& file, const std::map<int, long long>& drops) {
    std::map<int, Counts> by_pid;
    for (const Bytes& p : e2e::split_packets(file)) {
        Counts& c = by_pid[((p[1] & 0x1F) << 8) | p[2]];
        ++c.total;
        if (p[3] >> 6) ++c.scrambling;
        if (p[1] & 0x80) ++c.biterror;
    }
    for (const auto& [pid, d] : drops) by_pid[pid].drop = d;
    return by_pid;
}

struct Report {
    std::string console, tsselect, summary;
};

void add_file(Report& r, const std::string& path, long long size, const std::map<int, Counts>& by_pid) {
    char line[256];
    r.console += "  " + path + "\n";
    r.tsselect += path + "\r\n";
    long long scrambling = 0;
    for (const auto& [pid, c] : by_pid) {
        std::snprintf(line, sizeof line, "pid=0x%04x, total=%8lld, drop=%3lld, scrambling=%lld, biterror=%lld", pid,
                      c.total, c.drop, c.scrambling, c.biterror);
        r.console += std::string("    ") + line + "\n";
        r.tsselect += std::string("  ") + line + "\r\n";
        scrambling += c.scrambling;
    }
    std::string kb = std::to_string(size / 1024);
    for (int at = static_cast<int>(kb.size()) - 3; at > 0; at -= 3) kb.insert(static_cast<std::size_t>(at), ",");
    r.console += "    size=" + kb + " KB, scrambling=" + std::to_string(scrambling) + "\n";
    r.tsselect += "  size=" + kb + " KB, scrambling=" + std::to_string(scrambling) + "\r\n";
    r.summary += "\"" + path + "\"," + std::to_string(size) + "," + std::to_string(scrambling) + "\r\n";
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Faults planted in a three-SD recording, at packets found by PID and occurrence:
//
//   PID     service  fault                                       drops  other counts
//   0x0111  SD1      packet 200 removed                          1
//   0x0121  SD2      packet 300 repeated once, byte for byte     0
//   0x0121  SD2      packet 500 followed by one with its         1
//                    counter but other bytes
//   0x0121  SD2      packet 310 transport_error_indicator 1              biterror 1
//   0x0131  SD3      packet 400 repeated twice                   1
//   0x0132  SD3      packets 50..59 transport_scrambling 2               scrambling 10
TEST(StatsReportTest, PlantedFaultsAreCountedPerPidAndFile) {
    std::vector<Packet> in = synth::sd3({.seconds = 1.5});
    in[nth_of(in, 0x0121, 310)][1] |= 0x80;
    for (int k = 50; k < 60; ++k) in[nth_of(in, 0x0132, k)][3] = static_cast<std::uint8_t>((in[nth_of(in, 0x0132, k)][3] & 0x3F) | 0x80);
    {
        const std::size_t at = nth_of(in, 0x0121, 500);
        Packet other = in[at];
        other[187] ^= 0x5A;
        in.insert(in.begin() + static_cast<std::ptrdiff_t>(at) + 1, other);
    }
    {
        const std::size_t at = nth_of(in, 0x0131, 400);
        const Packet copy = in[at];
        in.insert(in.begin() + static_cast<std::ptrdiff_t>(at) + 1, 2, copy);
    }
    {
        const std::size_t at = nth_of(in, 0x0121, 300);
        const Packet copy = in[at];
        in.insert(in.begin() + static_cast<std::ptrdiff_t>(at) + 1, copy);
    }
    in.erase(in.begin() + static_cast<std::ptrdiff_t>(nth_of(in, 0x0111, 200)));

    e2e::TempDir dir;
    e2e::write_file(dir.file("rec.ts"), concat(in));
    const e2e::RunResult r = e2e::run_quillodine({"-LOGFILE", "rec.ts"}, dir.path);
    ASSERT_EQ(r.exit_code, 0) << r.out;

    // Slots in their order: 1SEG, then SD1 to SD3.
    const std::vector<std::pair<std::string, std::map<int, long long>>> outputs = {
        {"rec_1SEG.ts", {}},
        {"rec_SD1.ts", {{0x0111, 1}}},
        {"rec_SD2.ts", {{0x0121, 1}}},
        {"rec_SD3.ts", {{0x0131, 1}}},
    };
    Report want;
    for (const auto& [name, drops] : outputs) {
        const Bytes file = e2e::read_file(dir.file(name));
        ASSERT_FALSE(file.empty()) << name;
        const auto by_pid = counts_of_file(file, drops);
        add_file(want, name, static_cast<long long>(file.size()), by_pid);
        if (name == "rec_SD2.ts") {
            EXPECT_EQ(by_pid.at(0x0121).biterror, 1);
        }
        if (name == "rec_SD3.ts") {
            EXPECT_EQ(by_pid.at(0x0132).scrambling, 10);
        }
    }
    EXPECT_TRUE(ends_with(r.out, want.console)) << r.out;
    EXPECT_EQ(text(e2e::read_file(dir.file("rec_tsselect.log"))), want.tsselect);
    EXPECT_EQ(text(e2e::read_file(dir.file("rec.log"))), want.summary);
}

std::vector<Packet> small_recording(int count, std::uint8_t fill) {
    synth::Mux mux;
    mux.pat(0x7FE8, {{0x0400, 0x01F0}});
    while (mux.packets.size() < static_cast<std::size_t>(count)) {
        mux.filler(0x0111, fill);
        mux.null(1);
    }
    return mux.packets;
}

TEST(StatsReportTest, EachInputGetsItsOwnPairOfLogs) {
    e2e::TempDir dir;
    e2e::write_file(dir.file("a.ts"), concat(small_recording(40, 1)));
    e2e::write_file(dir.file("b.ts"), concat(small_recording(60, 2)));
    for (int run = 0; run < 2; ++run) {  // a second run starts both logs afresh
        const e2e::RunResult r = e2e::run_quillodine({"-NULL", "-LOGFILE", "a.ts", "b.ts"}, dir.path);
        ASSERT_EQ(r.exit_code, 0) << r.out;
    }
    for (const std::string name : {"a", "b"}) {
        const long long size = static_cast<long long>(e2e::read_file(dir.file(name + "_NULL.ts")).size());
        EXPECT_EQ(text(e2e::read_file(dir.file(name + ".log"))),
                  "\"" + name + "_NULL.ts\"," + std::to_string(size) + ",0\r\n");
        const std::string tsselect = text(e2e::read_file(dir.file(name + "_tsselect.log")));
        EXPECT_EQ(tsselect.rfind(name + "_NULL.ts\r\n", 0), 0u) << tsselect;
        EXPECT_EQ(tsselect.find(name == "a" ? "b_NULL" : "a_NULL"), std::string::npos) << tsselect;
    }

    // -LOG alone reports on the console and creates no file.
    e2e::TempDir screen;
    e2e::write_file(screen.file("a.ts"), concat(small_recording(40, 1)));
    const e2e::RunResult r = e2e::run_quillodine({"-NULL", "-LOG", "a.ts"}, screen.path);
    EXPECT_NE(r.out.find("  a_NULL.ts\n    pid=0x0000, total="), std::string::npos) << r.out;
    EXPECT_EQ(e2e::list_dir(screen.path), (std::vector<std::string>{"a.ts", "a_NULL.ts"}));
}

// Peak resident memory (KiB) of one run of the program, measured in a child of its own so that
// runs do not see each other's peaks.
long peak_kib(const std::vector<std::string>& args, const std::string& cwd) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        e2e::run_quillodine(args, cwd);
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        const long peak = usage.ru_maxrss;
        if (write(fds[1], &peak, sizeof peak) != static_cast<ssize_t>(sizeof peak)) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    long peak = -1;
    if (read(fds[0], &peak, sizeof peak) != static_cast<ssize_t>(sizeof peak)) peak = -1;
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return peak;
}

TEST(StatsMemoryTest, LoggingCostsLittleMoreThanTheRecordsOfPidsThatOccur) {
    e2e::TempDir dir;
    ASSERT_TRUE(synth::write_file(dir.file("rec.ts"), synth::sd3_multiplex(), {.seconds = 1}));
    const long plain = peak_kib({"-BUFF", "0", "rec.ts"}, dir.path);
    const long logged = peak_kib({"-BUFF", "0", "-LOGFILE", "rec.ts"}, dir.path);
    ASSERT_GT(plain, 0);
    ASSERT_GT(logged, 0);
    // Four files with about five PIDs each; a record for all 8192 PIDs of each file up front
    // would cost several MiB.
    EXPECT_LT(logged - plain, 1024) << plain << " KiB without, " << logged << " KiB with -LOGFILE";
}

}  // namespace
