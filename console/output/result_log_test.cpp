#include "output/result_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/file_io.h"
#include "state/run_state.h"
#include "stream/stats.h"

namespace quill {
namespace {

TEST(ResultLogSize, KilobytesAreTruncatedAndGroupedInThrees) {
    const struct {
        long long bytes;
        const char* text;
    } cases[] = {
        {0, "0"},          {1023, "0"},       {1024, "1"},          {999 * 1024, "999"},
        {1000 * 1024, "1,000"}, {1048576, "1,024"}, {1234567LL * 1024 + 1023, "1,234,567"},
        {123456LL * 1024, "123,456"}, {12345678901LL * 1024, "12,345,678,901"},
    };
    for (const auto& c : cases) EXPECT_EQ(size_in_kb(c.bytes), c.text) << c.bytes;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::uint8_t> packet(int pid, int cc, bool scrambled = false, bool error = false) {
    std::vector<std::uint8_t> p(188, 0);
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>((error ? 0x80 : 0) | (pid >> 8));
    p[2] = static_cast<std::uint8_t>(pid);
    p[3] = static_cast<std::uint8_t>((scrambled ? 0x80 : 0) | 0x10 | cc);
    return p;
}

class ResultLogReport : public testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/quill_report_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        run_ = std::make_unique<RunState>();
        run_->options.collect_stats = run_->options.log_screen = 1;
        run_->input.summary_log_path = dir_ + "/rec.log";
        run_->input.tsselect_log_path = dir_ + "/rec_tsselect.log";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // A file of the slot with `packets` written and counted.
    void add_file(OutputStream& slot, const std::string& name, const std::vector<std::vector<std::uint8_t>>& packets) {
        slot.file.path = dir_ + "/" + name;
        const int fd = file_open_rw_create(slot.file.path.c_str());
        ASSERT_GE(fd, 0);
        stats_register(slot.statistics, fd, slot.file.path, file_identity(fd));
        for (const auto& p : packets) {
            ASSERT_EQ(file_write(fd, p.data(), 188), 188);
            count_packet(slot.statistics, fd, p.data(), false);
        }
        file_close(fd);
    }
    std::string report(OutputStream& slot) {
        testing::internal::CaptureStdout();
        report_slot_statistics(*run_, slot);
        return testing::internal::GetCapturedStdout();
    }

    std::string dir_;
    std::unique_ptr<RunState> run_;
};

TEST_F(ResultLogReport, ConsoleAndBothLogsHoldTheirLinesInFileOrder) {
    run_->options.log_file = 1;
    file_create_empty(run_->input.summary_log_path.c_str());
    file_create_empty(run_->input.tsselect_log_path.c_str());
    OutputStream& slot = run_->outputs[3];
    std::vector<std::vector<std::uint8_t>> first;
    for (int i = 0; i < 10; ++i) first.push_back(packet(0x0111, i, i < 3));
    first.push_back(packet(0x0111, 12, false, true));  // one drop, one transport error
    first.push_back(packet(0x0000, 0));
    add_file(slot, "rec_SD1.ts", first);
    add_file(slot, "rec_SD1-1.ts", {packet(0x1FFF, 0, true)});
    const std::string a = dir_ + "/rec_SD1.ts", b = dir_ + "/rec_SD1-1.ts";

    EXPECT_EQ(report(slot),
              "  " + a + "\n"
              "    pid=0x0000, total=       1, drop=  0, scrambling=0, biterror=0\n"
              "    pid=0x0111, total=      11, drop=  1, scrambling=3, biterror=1\n"
              "    size=2 KB, scrambling=3\n"
              "  " + b + "\n"
              "    pid=0x1fff, total=       1, drop=  0, scrambling=1, biterror=0\n"
              "    size=0 KB, scrambling=1\n");
    EXPECT_EQ(read_text(run_->input.tsselect_log_path),
              a + "\r\n"
              "  pid=0x0000, total=       1, drop=  0, scrambling=0, biterror=0\r\n"
              "  pid=0x0111, total=      11, drop=  1, scrambling=3, biterror=1\r\n"
              "  size=2 KB, scrambling=3\r\n" +
              b + "\r\n"
              "  pid=0x1fff, total=       1, drop=  0, scrambling=1, biterror=0\r\n"
              "  size=0 KB, scrambling=1\r\n");
    EXPECT_EQ(read_text(run_->input.summary_log_path), "\"" + a + "\",2256,3\r\n\"" + b + "\",188,1\r\n");

    // A second slot appends to the same logs.
    const std::string before = read_text(run_->input.summary_log_path);
    add_file(run_->outputs[4], "rec_SD2.ts", {});
    report(run_->outputs[4]);
    EXPECT_EQ(read_text(run_->input.summary_log_path), before + "\"" + dir_ + "/rec_SD2.ts\",0,0\r\n");
}

TEST_F(ResultLogReport, EmptyAndMissingFilesStillGetTheirLines) {
    OutputStream& slot = run_->outputs[0];
    add_file(slot, "rec_HD.ts", {});
    stats_register(slot.statistics, 99, dir_ + "/gone.ts", FileIdentity{});
    EXPECT_EQ(report(slot), "  " + dir_ + "/rec_HD.ts\n    size=0 KB, scrambling=0\n"
                            "  " + dir_ + "/gone.ts\n    size=0 KB, scrambling=0\n");
    // -LOG alone touches no log file.
    EXPECT_FALSE(path_identity(run_->input.summary_log_path.c_str()).valid);
    EXPECT_FALSE(path_identity(run_->input.tsselect_log_path.c_str()).valid);
}

TEST_F(ResultLogReport, ASlotWithoutFilesWritesNothing) {
    run_->options.log_file = 1;
    EXPECT_EQ(report(run_->outputs[5]), "");
    EXPECT_FALSE(path_identity(run_->input.summary_log_path.c_str()).valid);
}

TEST_F(ResultLogReport, IncompleteStatisticsAreMarked) {
    OutputStream& slot = run_->outputs[0];
    add_file(slot, "rec_HD.ts", {});
    slot.statistics.allocation_budget = 0;
    const int fd = file_open_read((dir_ + "/rec_HD.ts").c_str());
    testing::internal::CaptureStdout();
    stats_register(slot.statistics, fd, dir_ + "/rec_HD.ts", file_identity(fd));
    count_packet(slot.statistics, fd, packet(0x100, 0).data(), false);
    stats_register(slot.statistics, fd + 1, dir_ + "/other.ts", FileIdentity{});
    testing::internal::GetCapturedStdout();
    file_close(fd);
    EXPECT_EQ(report(slot), "  " + dir_ + "/rec_HD.ts\n    size=0 KB, scrambling=0\n"
                            "    statistics incomplete (out of memory)\n"
                            "  statistics of 1 file(s) lost (out of memory)\n");
}

}  // namespace
}  // namespace quill
