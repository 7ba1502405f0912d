// Programme and PMT splits: which EIT sections count as a programme change, how a GOP list is
// trimmed after a cut-back, and the names of split files. The byte-for-byte overlap timeline is
// checked end to end (tests/e2e/programme_split_test.cpp).
#include "segment/programme_split.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "output/naming.h"
#include "platform/file_io.h"
#include "state/run_state.h"
#include "stream/tables.h"
#include "synth.h"

namespace quill {
namespace {

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string temp_path(const std::string& name) {
    return ::testing::TempDir() + "programme_split_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
           "_" + name;
}

// Trimming after a cut-back keeps only GOP starts that lie inside the shortened file: a line
// numbered exactly at the new end points past the file's last packet and goes too.
TEST(GopListTrim, KeepsOnlyLinesBeforeTheNewEnd) {
    const std::string path = temp_path("list.txt");
    const std::string head = "TS_CUT2\r\n\r\n";
    const std::string kept = "0111,,00:00:10:600,954009,3\r\n0111,,00:00:11:100,999054, 4871\r\n";
    const std::string dropped = "0111,,00:00:11:601,1044099,9705\r\n0111,,00:00:12:101,1089144,14698\r\n";
    struct Case {
        long long end;
        std::string want;
    } cases[] = {
        {9706, head + kept + "0111,,00:00:11:601,1044099,9705\r\n"},
        {9705, head + kept},   // the line at the end itself is dropped
        {4872, head + kept},
        {4871, head + "0111,,00:00:10:600,954009,3\r\n"},
        {0, head},             // a file cut to nothing keeps the header lines only
        {1000000, head + kept + dropped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.end);
        int fd = file_open_rw_create(path.c_str());
        ASSERT_GE(fd, 0);
        file_truncate(fd, 0);
        const std::string text = head + kept + dropped;
        ASSERT_EQ(file_write(fd, text.data(), text.size()), static_cast<long long>(text.size()));
        EXPECT_EQ(trim_gop_list(fd, c.end), 0);
        // Lines and the trailer written afterwards follow the trimmed text.
        ASSERT_EQ(file_write(fd, "END\r\n", 5), 5);
        file_close(fd);
        EXPECT_EQ(slurp(path), c.want + "END\r\n");
    }
    std::remove(path.c_str());
}

// An HD slot carrying service 0x0400 with an open file, and the EIT packets that reach it.
struct ProgrammeChange : ::testing::Test {
    std::unique_ptr<RunState> run = std::make_unique<RunState>();
    OutputStream& hd = run->outputs[kSlotHd];
    synth::Mux mux;
    std::string folder = ::testing::TempDir();
    std::string base = std::string("programme_split_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();

    void SetUp() override {
        run->options.split_on_programme = 1;
        run->options.buffer_mb = 0;
        run->input.folder = folder;
        run->input.base = base;
        run->input.ext = ".ts";
        run->tables.count = 1;
        run->tables.entries[0].program_number = 0x0400;
        run->tables.entries[0].pmt_pid = 0x01F0;
        run->tables.entries[0].last_pmt_version = 3;
        hd.file.suffix = "_HD";
        hd.file.path = slot_file_path(*run, kSlotHd, 0);
        hd.file.enabled = hd.programme.in_use = 1;
        hd.programme.service_id = 0x0400;
        hd.programme.pmt_pid = 0x01F0;
        hd.file.fd = file_open_rw_create(hd.file.path.c_str());
        file_truncate(hd.file.fd, 0);
    }
    void TearDown() override {
        for (OutputStream& s : run->outputs) {
            if (s.file.fd >= 0) file_close(s.file.fd);
            if (s.file.overlap_after_handle >= 0) file_close(s.file.overlap_after_handle);
        }
        for (int n = 0; n < 3; ++n) std::remove(slot_file_path(*run, kSlotHd, n).c_str());
    }
    long long eit(synth::EitPf e) {
        const std::size_t at = mux.eit(e);
        return check_programme_change(*run, mux.packets[at].data());
    }
    long long packet(synth::Packet p) { return check_programme_change(*run, p.data()); }
};

TEST_F(ProgrammeChange, OnlyAChangedPresentEventOfSectionZeroSplits) {
    EXPECT_EQ(eit({.service_id = 0x0400, .event_id = 10}), 0);  // first sight: remembered only
    EXPECT_EQ(eit({.service_id = 0x0400, .event_id = 10}), 0);
    EXPECT_EQ(eit({.service_id = 0x0400, .section_number = 1, .event_id = 11}), 0);  // the following event
    EXPECT_EQ(eit({.service_id = 0x0401, .event_id = 99}), 0);                        // no such programme
    EXPECT_EQ(hd.split.split_number, 0);
    EXPECT_EQ(run->tables.entries[0].last_event_id, 10);

    // A continuation packet whose bytes happen to look like a section 0 start.
    synth::Packet continuation = mux.packets[0];
    continuation[1] &= static_cast<std::uint8_t>(~0x40);
    continuation[19] = 0x12;
    EXPECT_EQ(packet(continuation), 0);
    // A present/following section without any event (nothing on air): its CRC is no event_id.
    synth::Packet empty = mux.packets[0];
    empty[7] = 15;  // header and CRC only
    EXPECT_EQ(packet(empty), 0);
    EXPECT_EQ(hd.split.split_number, 0);
    EXPECT_EQ(run->tables.entries[0].last_event_id, 10);

    // EIT p/f of another transport stream (0x4F) announces the change.
    EXPECT_EQ(eit({.actual = false, .service_id = 0x0400, .event_id = 12}), 0);
    EXPECT_EQ(hd.split.split_number, 1);
    EXPECT_EQ(hd.file.fd, -1);  // the next packet opens the new file
    EXPECT_EQ(hd.file.path, folder + base + "_HD-1.ts");
    EXPECT_EQ(run->tables.entries[0].last_event_id, 12);
    // The same change arriving through the PMT as well must not split again.
    EXPECT_EQ(run->tables.entries[0].last_pmt_version, -1);
}

TEST_F(ProgrammeChange, ASlotWithoutAFileKeepsItsName) {
    file_close(hd.file.fd);
    hd.file.fd = -1;
    EXPECT_EQ(eit({.service_id = 0x0400, .event_id = 10}), 0);
    EXPECT_EQ(eit({.service_id = 0x0400, .event_id = 11}), 0);
    EXPECT_EQ(hd.split.split_number, 0);
    EXPECT_EQ(hd.file.path, folder + base + "_HD.ts");
}

// A PMT split across a video PID change turns the overlaps off for that slot only, unless -OVL x4
// asks for them.
TEST_F(ProgrammeChange, VideoPidChangeDecidesTheOverlapOfItsOwnSlot) {
    OutputStream& other = run->outputs[kFirstMultiSlot + 1];
    other.split.overlap_active = 1;
    hd.programme.previous_video_pid = 0x0111;
    hd.programme.video_pid = 0x0115;
    EXPECT_EQ(check_pmt_change(*run, kSlotHd), 0);
    EXPECT_EQ(hd.split.split_number, 1);
    EXPECT_EQ(hd.split.overlap_active, 0);
    EXPECT_EQ(other.split.overlap_active, 1);
    EXPECT_EQ(run->tables.entries[0].last_event_id, -1);

    // With x4 the overlap is made across the change.
    run->options.overlap_on_video_change = 1;
    hd.file.fd = file_open_rw_create(hd.file.path.c_str());
    EXPECT_EQ(check_pmt_change(*run, kSlotHd), 0);
    EXPECT_EQ(hd.split.overlap_active, 1);
    EXPECT_EQ(hd.split.split_number, 2);
}

}  // namespace
}  // namespace quill
