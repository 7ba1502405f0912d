#include "job/throttle.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "job/descrambler.h"
#include "job/file_job.h"
#include "job/job_context.h"
#include "job/options.h"
#include "synth.h"

namespace quill {
namespace {

// ---------------------------------------------------------------------------
// The progress line and the final line: the front end parses these bytes.

ProgressFigures figures(long long read, long long size) {
    ProgressFigures f;
    f.bytes_read = read;
    f.file_size = size;
    return f;
}

TEST(ProgressText, FiguresAreGroupedDecimalMegabytes) {
    EXPECT_EQ(group_thousands(0), "0");
    EXPECT_EQ(group_thousands(999), "999");
    EXPECT_EQ(group_thousands(1000), "1,000");
    EXPECT_EQ(group_thousands(1234), "1,234");
    EXPECT_EQ(group_thousands(123456), "123,456");
    EXPECT_EQ(group_thousands(1234567), "1,234,567");

    ProgressFigures f = figures(1'234'567'890, 5'678'901'234);
    f.scrambled[0] = 3456;
    f.scrambled[4] = 250;
    EXPECT_EQ(progress_text(f, false), "  ( 1,234 MB/ 5,678 MB) 21% H:3K S3:250 ");
    EXPECT_EQ(progress_text(f, true), "  ( 5,678 MB/ 5,678 MB) 100% H:3K S3:250\n");
}

// A pipe has no size: megabytes read and the rate in tenths of MB/s (cut, not rounded), and the
// megabytes read at the end.
TEST(ProgressText, InputWithoutASizeShowsTheRate) {
    ProgressFigures f = figures(1'234'567'890, -1);
    f.bytes_per_second = 2'399'999;
    f.emm_count = 7;
    f.scrambled[0] = 3456;
    EXPECT_EQ(progress_text(f, false), "  ( 1,234 MB, 2.3 MB/s)EMM:7 H:3K ");
    EXPECT_EQ(progress_text(f, true), "  ( 1,234 MB)EMM:7 H:3K\n");
    f = figures(0, -1);
    EXPECT_EQ(progress_text(f, false), "  ( 0 MB, 0.0 MB/s) ");
    f.bytes_per_second = 31'000'000;
    EXPECT_EQ(progress_text(f, false), "  ( 0 MB, 31.0 MB/s) ");
    EXPECT_EQ(progress_text(f, true), "  ( 0 MB)\n");
}

TEST(ProgressText, LineWithoutPiecesEndsAfterThePercentSign) {
    EXPECT_EQ(progress_text(figures(0, 4'212'516), false), "  ( 0 MB/ 4 MB) 0% ");
    EXPECT_EQ(progress_text(figures(2'106'258, 4'212'516), false), "  ( 2 MB/ 4 MB) 50% ");
    EXPECT_EQ(progress_text(figures(4'212'516, 4'212'516), true), "  ( 4 MB/ 4 MB) 100%\n");
}

TEST(ProgressText, ScrambledCountsUseKAndMAboveTheirThresholds) {
    auto piece = [](int count) {
        ProgressFigures f = figures(0, 10'000'000);
        f.scrambled[0] = count;
        const std::string line = progress_text(f, false);
        return line.substr(line.find(" H:") + 3, line.size() - line.find(" H:") - 4);
    };
    EXPECT_EQ(piece(1), "1");
    EXPECT_EQ(piece(999), "999");
    EXPECT_EQ(piece(1000), "1000");
    EXPECT_EQ(piece(1001), "1K");
    EXPECT_EQ(piece(1500), "1K");
    EXPECT_EQ(piece(1'000'000), "1000K");
    EXPECT_EQ(piece(1'000'001), "1M");
    EXPECT_EQ(piece(1'500'000), "1M");
    EXPECT_EQ(piece(25'000'000), "25M");
}

TEST(ProgressText, SlotLabelsCountFromTheSlotLessOne) {
    ProgressFigures f = figures(0, 10'000'000);
    for (int& c : f.scrambled) c = 1;
    EXPECT_EQ(progress_text(f, false),
              "  ( 0 MB/ 10 MB) 0% H:1 1S:1 1S:1 S2:1 S3:1 S4:1 S5:1 S6:1 S7:1 S8:1 S9:1 S10:1 S11:1 S12:1 S13:1"
              " S14:1 S15:1 S16:1 S17:1 S18:1 ");
}

TEST(ProgressText, EmmPieceFollowsThePercentSignWhenPositive) {
    ProgressFigures f = figures(5'000'000, 10'000'000);
    f.emm_count = 12;
    f.scrambled[3] = 7;
    EXPECT_EQ(progress_text(f, false), "  ( 5 MB/ 10 MB) 50%EMM:12 S2:7 ");
    f.emm_count = 0;
    EXPECT_EQ(progress_text(f, false), "  ( 5 MB/ 10 MB) 50% S2:7 ");
}

TEST(ProgressText, SmallFilesNeitherDivideByZeroNorPassAHundred) {
    // Below 1000 bytes the percentage has no divisor; it stays 0 while reading.
    EXPECT_EQ(progress_text(figures(500, 999), false), "  ( 0 MB/ 0 MB) 0% ");
    // The plain formula would give 125 for a finished 20-packet file; a finished input is 100.
    EXPECT_EQ(progress_text(figures(3760, 3760), true), "  ( 0 MB/ 0 MB) 100%\n");
    EXPECT_EQ(progress_text(figures(0, 0), true), "  ( 0 MB/ 0 MB) 100%\n");
}

// ---------------------------------------------------------------------------
// The -WAIT2 decision of each second, driven with measured rates and with the fallback.

std::vector<int> waits_for(ThrottleState& t, int wait_msec, const std::vector<std::optional<double>>& others) {
    std::vector<int> waits;
    for (const auto& rate : others) {
        adjust_wait(t, wait_msec, rate);
        waits.push_back(t.wait_ms);
    }
    return waits;
}

TEST(AdjustWait, MeasuredReadsOfOthersRaiseTheWaitBySecondsAndLetItFall) {
    ThrottleState t;
    // Idle disk: the wait is held at 0.
    EXPECT_EQ(waits_for(t, 20, {0.0, 100.0, 500000.0}), (std::vector<int>{0, 0, 0}));
    // Another process reads more than 500,000 bytes per second: one more millisecond per second, up to 20.
    std::vector<std::optional<double>> busy(25, 2'000'000.0);
    std::vector<int> expected;
    for (int i = 1; i <= 25; ++i) expected.push_back(i < 20 ? i : 20);
    EXPECT_EQ(waits_for(t, 20, busy), expected);
    // Quiet again: down one per second.
    EXPECT_EQ(waits_for(t, 20, {0.0, 0.0, 500001.0, 0.0}), (std::vector<int>{19, 18, 19, 18}));
}

TEST(AdjustWait, FallbackAtASteadyRateNeverWaits) {
    ThrottleState t;
    for (int i = 0; i < 5; ++i) {
        t.bytes_this_second = 40'000'000;
        adjust_wait(t, 20, std::nullopt);
        EXPECT_EQ(t.wait_ms, 0);
        EXPECT_EQ(t.bytes_this_second, 0);
    }
    EXPECT_EQ(t.peak_bytes_per_second, 40'000'000);
}

TEST(AdjustWait, FallbackWaitsLongerTheFurtherASecondFallsBelowThePeak) {
    // Peak 56,000,000: below 1/2, 1/8, 1/18, 1/28 of it give 10, 40, 70, 100 % of the wait.
    struct Case {
        long long second;
        int wait;
    } cases[] = {{28'000'000, 0},  {27'999'999, 2}, {7'000'000, 2},  {6'999'999, 8},
                 {3'111'111, 8},   {3'111'110, 14}, {2'000'000, 14}, {1'999'999, 20}};
    for (const Case& c : cases) {
        ThrottleState t;
        t.peak_bytes_per_second = 56'000'000;
        t.bytes_this_second = c.second;
        adjust_wait(t, 20, std::nullopt);
        EXPECT_EQ(t.wait_ms, c.wait) << c.second;
    }
}

TEST(AdjustWait, FallbackStepsAWaitDownOnceItOutlastsItsValueInSeconds) {
    ThrottleState t;
    t.peak_bytes_per_second = 100'000'000;
    std::vector<int> waits;
    for (int i = 0; i < 8; ++i) {
        t.bytes_this_second = 1'000'000;  // far below the peak: the full wait of 5
        adjust_wait(t, 5, std::nullopt);
        waits.push_back(t.wait_ms);
    }
    // The counter starts at 0 and counts up while it is at most the wait; the seventh second finds
    // it past 5 and steps the wait down to 30 % (1 ms) for that second.
    EXPECT_EQ(waits, (std::vector<int>{5, 5, 5, 5, 5, 5, 1, 5}));
}

TEST(AdjustWait, InputStartValuesDependOnTheMode) {
    ThrottleState t;
    Options o;
    o.wait_enabled = 1;
    o.wait_msec = 20;
    t.step_down = 4;
    t.peak_bytes_per_second = 9;
    throttle_begin_input(t, o);
    EXPECT_EQ(t.wait_ms, 20);
    EXPECT_EQ(t.step_down, 0);
    EXPECT_EQ(t.peak_bytes_per_second, 0);
    o.wait_adaptive = 1;
    throttle_begin_input(t, o);
    EXPECT_EQ(t.wait_ms, 0);
}

// ---------------------------------------------------------------------------
// Sleeps of the read loop, counted instead of timed.

std::vector<int> g_sleeps;
void count_sleep(int milliseconds) { g_sleeps.push_back(milliseconds); }

struct ReadLoopTest : ::testing::Test {
    std::string dir = ::testing::TempDir() + "throttle_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    std::string log_path = dir + "calls.txt";
    std::unique_ptr<JobContext> run = std::make_unique<JobContext>();
    std::unique_ptr<std::uint8_t[]> buffer{new std::uint8_t[kReadBufferSize]};

    void SetUp() override {
        std::string cmd = "mkdir -p '" + dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        ASSERT_TRUE(synth::write_file(dir + "rec.ts", synth::hd_multiplex(), {.packets = 3000}));
        run->job.read_buffer = buffer.get();
        run->job.throttle.sleep = count_sleep;
        g_sleeps.clear();
    }
    void TearDown() override {
        run.reset();  // releases the library before the log goes
        unsetenv("SUBSTITUTE_B25_LOG");
        std::string cmd = "rm -rf '" + dir + "'";
        std::system(cmd.c_str());
    }
    // Decoding calls after the first of each pass: one per refill read of the main loop.
    int refill_reads_logged() {
        std::ifstream f(log_path);
        int refills = 0;
        bool pass_started = false;
        for (std::string line; std::getline(f, line);) {
            if (line == "reset") pass_started = true;
            if (line.rfind("decode", 0) != 0) continue;
            if (pass_started)
                pass_started = false;
            else
                ++refills;
        }
        return refills;
    }
};

TEST_F(ReadLoopTest, FixedWaitSleepsAfterEveryRefillRead) {
    setenv("SUBSTITUTE_B25_LOG", log_path.c_str(), 1);
    unsetenv("SUBSTITUTE_B25");
    Options& o = run->run.options;
    o.descramble_mode = 2;
    o.wait_enabled = 1;
    o.wait_msec = 20;
    ASSERT_EQ(bind_descrambler(run->descrambler, SUBSTITUTE_B25_LIBRARY, o), BindResult::Bound);
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(run_file_job(*run, InputEntry{dir + "rec.ts"}));
    ::testing::internal::GetCapturedStdout();
    const int refills = refill_reads_logged();
    EXPECT_GE(refills, (3000 * 188 - 8192) / 8192);  // the last pass alone reads the whole file
    EXPECT_EQ(g_sleeps, std::vector<int>(static_cast<std::size_t>(refills), 20));
}

TEST_F(ReadLoopTest, NoSleepWithoutWaitingOrWithAZeroWait) {
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(run_file_job(*run, InputEntry{dir + "rec.ts"}));
    // -WAIT2 starts every input at 0 ms; a run this short has no once-per-second step to raise it
    // unless the calendar second turns, so only sleeps of a raised wait may appear.
    run->run.options.wait_enabled = 1;
    run->run.options.wait_adaptive = 1;
    run->run.options.wait_msec = 20;
    EXPECT_TRUE(run_file_job(*run, InputEntry{dir + "rec.ts"}));
    ::testing::internal::GetCapturedStdout();
    for (int ms : g_sleeps) EXPECT_EQ(ms, 1);
    EXPECT_EQ(run->job.throttle.disk, nullptr);  // the measurements are closed at the finish
    EXPECT_EQ(run->job.throttle.process, nullptr);
}

}  // namespace
}  // namespace quill
