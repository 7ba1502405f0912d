#include "stream/stats.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/file_io.h"
#include "state/run_state.h"

namespace quill {
namespace {

struct Pkt {
    int pid = 0x0100;
    int cc = 0;
    int afc = 1;            // 1 payload only, 2 adaptation only, 3 both
    std::uint8_t fill = 0;  // payload bytes, to tell packets with the same counter apart
    bool discontinuity = false;
    bool scrambled = false;
    bool error = false;
    bool malformed_af = false;  // adaptation field that claims more than the packet holds
};

std::vector<std::uint8_t> build(const Pkt& k) {
    std::vector<std::uint8_t> p(188, k.fill);
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>((k.error ? 0x80 : 0) | ((k.pid >> 8) & 0x1F));
    p[2] = static_cast<std::uint8_t>(k.pid & 0xFF);
    p[3] = static_cast<std::uint8_t>((k.scrambled ? 0x80 : 0) | (k.afc << 4) | (k.cc & 0x0F));
    if (k.afc & 2) {
        const std::uint8_t flags = k.discontinuity ? 0x80 : 0;
        if (k.malformed_af) {
            p[4] = 5;              // PCR flag set, but only 4 bytes follow the flags
            p[5] = flags | 0x10;
        } else {
            p[4] = k.afc == 2 ? 183 : 1;
            p[5] = flags;
            for (int i = 6; i < 5 + p[4]; ++i) p[static_cast<std::size_t>(i)] = 0xFF;
        }
    }
    return p;
}

// A slot with one file registered under handle 7.
struct OneFile {
    SlotStatistics stats;
    OneFile() { stats_register(stats, 7, "rec_HD.ts", FileIdentity{}); }
    void count(const Pkt& k, bool back = false) { count_packet(stats, 7, build(k).data(), back); }
    const PidStats* pid(int p) const { return stats_pid(*stats_file_of(stats, 7), p); }
};

// Each scenario feeds packets of one PID in order and expects the drop count.
//
//   scenario                          counters               drops
//   first packet                      9                      0
//   wrap 15 -> 0                      14 15 0 1              0
//   jump over the wrap                14 0                   1
//   legal duplicate                   5 5'                   0   (' = identical bytes)
//   three in a row                    5 5' 5'                1
//   four in a row                     5 5' 5' 5'             2
//   same counter, other bytes         5 5*                   1   (* = other bytes)
//   other bytes as second repeat      5 5' 5*                2
//   adaptation only, unchanged        5 A5                   0
//   adaptation only, changed          5 A6                   1
//   discontinuity then follow-on      3 9d 10                0
//   discontinuity is the reference    3 9d 3                 1
//   malformed field: no discontinuity 3 9m                   1
struct Scenario {
    const char* name;
    std::vector<Pkt> packets;
    long long drops;
};

TEST(StatsContinuity, ScenariosGiveTheExpectedDrops) {
    const Pkt a5{.cc = 5, .fill = 1};
    const Pkt other5{.cc = 5, .fill = 2};
    const std::vector<Scenario> scenarios = {
        {"first packet", {{.cc = 9}}, 0},
        {"wrap", {{.cc = 14}, {.cc = 15}, {.cc = 0}, {.cc = 1}}, 0},
        {"jump over the wrap", {{.cc = 14}, {.cc = 0}}, 1},
        {"legal duplicate", {a5, a5}, 0},
        {"three in a row", {a5, a5, a5}, 1},
        {"four in a row", {a5, a5, a5, a5}, 2},
        {"same counter other bytes", {a5, other5}, 1},
        {"other bytes as second repeat", {a5, a5, other5}, 2},
        {"adaptation only unchanged", {a5, {.cc = 5, .afc = 2}}, 0},
        {"adaptation only changed", {a5, {.cc = 6, .afc = 2}}, 1},
        {"discontinuity then follow-on", {{.cc = 3}, {.cc = 9, .afc = 3, .discontinuity = true}, {.cc = 10}}, 0},
        {"discontinuity is the reference", {{.cc = 3}, {.cc = 9, .afc = 3, .discontinuity = true}, {.cc = 3}}, 1},
        {"malformed field", {{.cc = 3}, {.cc = 9, .afc = 3, .discontinuity = true, .malformed_af = true}}, 1},
    };
    for (const Scenario& s : scenarios) {
        OneFile f;
        for (const Pkt& k : s.packets) f.count(k);
        ASSERT_NE(f.pid(0x0100), nullptr) << s.name;
        EXPECT_EQ(f.pid(0x0100)->drop, s.drops) << s.name;
        EXPECT_EQ(f.pid(0x0100)->total, static_cast<long long>(s.packets.size())) << s.name;
    }
}

TEST(StatsContinuity, AResetStartsAFreshReference) {
    OneFile f;
    f.count({.cc = 5, .fill = 1});
    f.count({.cc = 5, .fill = 1});  // legal duplicate, run 1
    reset_continuity(f.stats, 7);
    f.count({.cc = 11, .fill = 2});  // no reference: no drop for the jump
    f.count({.cc = 11, .fill = 2});  // its own legal duplicate, not the second of the old run
    EXPECT_EQ(f.pid(0x100)->drop, 0);
    f.count({.cc = 13});
    EXPECT_EQ(f.pid(0x100)->drop, 1);
}

TEST(StatsContinuity, NullPacketsAreCountedButNeverDropped) {
    OneFile f;
    f.count({.pid = 0x1FFF, .cc = 0});
    f.count({.pid = 0x1FFF, .cc = 7, .scrambled = true});
    f.count({.pid = 0x1FFF, .cc = 7, .fill = 9, .error = true});
    const PidStats* n = f.pid(0x1FFF);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->total, 3);
    EXPECT_EQ(n->drop, 0);
    EXPECT_EQ(n->scrambling, 1);
    EXPECT_EQ(n->biterror, 1);
}

TEST(StatsContinuity, EachPidAndEachFileKeepsItsOwnReference) {
    SlotStatistics stats;
    stats_register(stats, 3, "a_HD.ts", FileIdentity{});
    stats_register(stats, 4, "a_HD-1.ts", FileIdentity{});
    // Interleaved PIDs in one file, and the same PID continuing in another file: no drops.
    count_packet(stats, 3, build({.pid = 0x111, .cc = 0}).data(), false);
    count_packet(stats, 3, build({.pid = 0x112, .cc = 9}).data(), false);
    count_packet(stats, 3, build({.pid = 0x111, .cc = 1}).data(), false);
    count_packet(stats, 4, build({.pid = 0x111, .cc = 7}).data(), false);
    count_packet(stats, 3, build({.pid = 0x112, .cc = 10}).data(), false);
    const FileStatsSlot* first = stats_file_of(stats, 3);
    const FileStatsSlot* second = stats_file_of(stats, 4);
    EXPECT_EQ(stats_pid(*first, 0x111)->total, 2);
    EXPECT_EQ(stats_pid(*first, 0x111)->drop, 0);
    EXPECT_EQ(stats_pid(*first, 0x112)->drop, 0);
    EXPECT_EQ(stats_pid(*second, 0x111)->total, 1);
    EXPECT_EQ(stats_pid(*second, 0x112), nullptr);
}

TEST(StatsRegistration, APathSeenAgainContinuesItsCounts) {
    SlotStatistics stats;
    FileIdentity id{.device = 1, .inode = 42, .valid = true};
    stats_register(stats, 5, "/out/rec_HD.ts", id);
    count_packet(stats, 5, build({.cc = 0}).data(), false);
    // The same file opened again under a name that differs only in letter case, another handle.
    stats_register(stats, 9, "/OUT/REC_hd.TS", id);
    count_packet(stats, 9, build({.cc = 1}).data(), false);
    ASSERT_EQ(stats.files.size(), 1u);
    EXPECT_EQ(stats_pid(stats.files[0], 0x100)->total, 2);
    EXPECT_EQ(stats_pid(stats.files[0], 0x100)->drop, 0);
    EXPECT_EQ(stats.files[0].path, "/out/rec_HD.ts");  // listed under its first name
}

TEST(StatsRegistration, NamesDifferingInCaseOnACaseSensitiveDiskAreTwoFiles) {
    SlotStatistics stats;
    stats_register(stats, 5, "rec_HD.ts", FileIdentity{.device = 1, .inode = 42, .valid = true});
    stats_register(stats, 6, "rec_hd.ts", FileIdentity{.device = 1, .inode = 43, .valid = true});
    EXPECT_EQ(stats.files.size(), 2u);
}

TEST(StatsRegistration, HandlesAreMappedWithoutAnUpperLimit) {
    SlotStatistics stats;
    stats_register(stats, 1023, "a.ts", FileIdentity{});
    stats_register(stats, 70000, "b.ts", FileIdentity{});
    count_packet(stats, 70000, build({}).data(), false);
    count_packet(stats, 70000, build({.cc = 1}).data(), false);
    ASSERT_NE(stats_file_of(stats, 70000), nullptr);
    EXPECT_EQ(stats_file_of(stats, 70000)->path, "b.ts");
    EXPECT_EQ(stats_pid(*stats_file_of(stats, 70000), 0x100)->total, 2);
    // Handles that were never registered count nothing and do not crash.
    count_packet(stats, 70001, build({}).data(), false);
    count_packet(stats, -1, build({}).data(), false);
    reset_continuity(stats, 123456);
    EXPECT_EQ(stats_pid(*stats_file_of(stats, 1023), 0x100), nullptr);
}

TEST(StatsRegistration, AReusedHandleCountsIntoTheNewFileOnly) {
    SlotStatistics stats;
    stats_register(stats, 5, "a.ts", FileIdentity{});
    count_packet(stats, 5, build({}).data(), false);
    stats_register(stats, 5, "a-1.ts", FileIdentity{});
    count_packet(stats, 5, build({.cc = 1}).data(), false);
    EXPECT_EQ(stats_pid(stats.files[0], 0x100)->total, 1);
    EXPECT_EQ(stats_pid(stats.files[1], 0x100)->total, 1);
}

TEST(StatsMemory, RecordsExistOnlyForPidsThatOccur) {
    SlotStatistics stats;
    for (int f = 0; f < 50; ++f) {
        stats_register(stats, 10 + f, "f" + std::to_string(f) + ".ts", FileIdentity{});
        for (int pid : {0x0000, 0x0111, 0x1FFF}) count_packet(stats, 10 + f, build({.pid = pid}).data(), false);
    }
    std::size_t records = 0;
    for (const FileStatsSlot& file : stats.files) records += file.records.size();
    EXPECT_EQ(records, 150u);
    stats_clear(stats);
    EXPECT_TRUE(stats.files.empty());
    EXPECT_EQ(stats_file_of(stats, 10), nullptr);  // the map is cleared with the entries
}

TEST(StatsMemory, AllocationFailureMarksTheFileIncompleteWithOneLine) {
    SlotStatistics stats;
    stats_register(stats, 5, "a.ts", FileIdentity{});  // entry and PID table
    stats.allocation_budget = 1;                         // one PID record, then nothing
    testing::internal::CaptureStdout();
    count_packet(stats, 5, build({.pid = 0x100}).data(), false);
    for (int i = 0; i < 5; ++i) count_packet(stats, 5, build({.pid = 0x200, .cc = i}).data(), false);
    count_packet(stats, 5, build({.pid = 0x100, .cc = 1}).data(), false);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "\nerror - failed on allocating statistics [a.ts]\n");
    EXPECT_TRUE(stats.files[0].incomplete);
    EXPECT_EQ(stats_pid(stats.files[0], 0x100)->total, 2);  // what exists goes on counting
    EXPECT_EQ(stats_pid(stats.files[0], 0x200), nullptr);

    stats.allocation_budget = 0;  // not even the entry of the next file
    testing::internal::CaptureStdout();
    stats_register(stats, 6, "b.ts", FileIdentity{});
    count_packet(stats, 6, build({}).data(), false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nerror - failed on allocating statistics [b.ts]\n");
    EXPECT_EQ(stats.lost_files, 1);
    EXPECT_EQ(stats.files.size(), 1u);
}

// Cutting a real file back, as the segmentation and the job's end do.
class StatsCutBack : public testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/quill_stats_XXXXXX";
        fd_ = mkstemp(name);
        ASSERT_GE(fd_, 0);
        path_ = name;
        run_ = std::make_unique<RunState>();
        run_->options.collect_stats = 1;
        slot().file.path = path_;
        stats_register_file(slot(), fd_);
    }
    void TearDown() override {
        file_close(fd_);
        unlink(path_.c_str());
    }
    OutputStream& slot() { return run_->outputs[0]; }
    void write(const Pkt& k) {
        const auto p = build(k);
        ASSERT_EQ(file_write(fd_, p.data(), 188), 188);
        stats_count_packet(slot(), fd_, p.data());
    }
    const PidStats* pid(int p) { return stats_pid(*stats_file_of(slot().statistics, fd_), p); }

    // 100 packets of two PIDs with jumps, exact repeats, scrambled and errored packets.
    static std::vector<Pkt> hundred() {
        std::vector<Pkt> v;
        int cc100 = 0, cc200 = 0;
        Pkt last100;
        for (int i = 0; i < 100; ++i) {
            if (i % 4 == 3) {
                v.push_back({.pid = 0x200, .cc = cc200++ & 15, .fill = static_cast<std::uint8_t>(i)});
            } else if (i == 41 || i == 42 || i == 81) {
                v.push_back(last100);  // 41 is a legal duplicate of 40, 42 one too many
            } else {
                if (i == 20 || i == 70) cc100 += 3;
                last100 = {.pid = 0x100, .cc = cc100++ & 15, .fill = static_cast<std::uint8_t>(i),
                           .scrambled = i % 10 == 0, .error = i == 55 || i == 90};
                v.push_back(last100);
            }
        }
        return v;
    }

    int fd_ = -1;
    std::string path_;
    std::unique_ptr<RunState> run_;
};

TEST_F(StatsCutBack, TakingBackFortyOfAHundredLeavesSixty) {
    const std::vector<Pkt> packets = hundred();
    for (const Pkt& k : packets) write(k);
    ASSERT_EQ(pid(0x100)->total + pid(0x200)->total, 100);
    ASSERT_GT(pid(0x100)->drop, 0);

    EXPECT_EQ(cut_back_file(*run_, slot(), fd_, 60 * 188), 60 * 188);
    EXPECT_EQ(file_seek(fd_, 0, 2), 60 * 188);
    EXPECT_EQ(pid(0x100)->total + pid(0x200)->total, 60);
    EXPECT_GE(pid(0x100)->drop, 0);
    EXPECT_GE(pid(0x200)->drop, 0);

    // Scrambling and errors are exactly those of the first 60 packets.
    long long scrambled = 0, errors = 0;
    for (int i = 0; i < 60; ++i) {
        scrambled += packets[static_cast<std::size_t>(i)].scrambled;
        errors += packets[static_cast<std::size_t>(i)].error;
    }
    EXPECT_EQ(pid(0x100)->scrambling + pid(0x200)->scrambling, scrambled);
    EXPECT_EQ(pid(0x100)->biterror + pid(0x200)->biterror, errors);
}

TEST_F(StatsCutBack, TakingBackEverythingLeavesNothingCounted) {
    for (const Pkt& k : hundred()) write(k);
    EXPECT_EQ(cut_back_file(*run_, slot(), fd_, -5), 0);  // below 0 means 0
    for (int p : {0x100, 0x200}) {
        EXPECT_EQ(pid(p)->total, 0);
        EXPECT_EQ(pid(p)->drop, 0);  // the duplicates and jumps taken out again, not just clamped
        EXPECT_EQ(pid(p)->scrambling, 0);
        EXPECT_EQ(pid(p)->biterror, 0);
    }
}

TEST_F(StatsCutBack, ATakenBackDuplicateRunCostsWhatItAdded) {
    // The run of three was still open when the cut came: walking it back must subtract its one
    // drop, not two, so that the jump before the cut stays counted.
    write({.cc = 0});
    write({.cc = 5});  // jump: kept
    write({.cc = 6, .fill = 5});
    write({.cc = 6, .fill = 5});
    write({.cc = 6, .fill = 5});
    ASSERT_EQ(pid(0x100)->drop, 2);
    cut_back_file(*run_, slot(), fd_, 2 * 188);
    EXPECT_EQ(pid(0x100)->drop, 1);
    EXPECT_EQ(pid(0x100)->total, 2);
}

TEST_F(StatsCutBack, WritingContinuesAtTheCutAndTakenPacketsAreHandedBack) {
    for (int i = 0; i < 10; ++i) write({.cc = i, .fill = static_cast<std::uint8_t>(i)});
    std::vector<std::uint8_t> taken;
    ASSERT_EQ(cut_back_file(*run_, slot(), fd_, 7 * 188, &taken), 7 * 188);
    ASSERT_EQ(taken.size(), 3u * 188);
    EXPECT_EQ(taken[188 * 2 + 3] & 0x0F, 9);  // file order
    write({.cc = 7, .fill = 7});
    EXPECT_EQ(file_seek(fd_, 0, 2), 8 * 188);  // no hole where the cut packets were
    EXPECT_EQ(pid(0x100)->total, 8);
    // A cut beyond the end neither grows the file nor counts anything.
    EXPECT_EQ(cut_back_file(*run_, slot(), fd_, 100 * 188), 8 * 188);
    EXPECT_EQ(file_seek(fd_, 0, 2), 8 * 188);
    EXPECT_EQ(pid(0x100)->total, 8);
}

TEST_F(StatsCutBack, WithoutStatisticsTheFileIsStillCut) {
    for (int i = 0; i < 5; ++i) write({.cc = i});
    run_->options.collect_stats = 0;
    EXPECT_EQ(cut_back_file(*run_, slot(), fd_, 2 * 188), 2 * 188);
    EXPECT_EQ(file_seek(fd_, 0, 2), 2 * 188);
    EXPECT_EQ(pid(0x100)->total, 5);  // not walked
}

}  // namespace
}  // namespace quill
