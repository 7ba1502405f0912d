#include "output/writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"

namespace quill {
namespace {

std::vector<std::uint8_t> slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Packet make_packet(int n, int scrambling = 0) {
    Packet p{};
    p.fill(static_cast<std::uint8_t>(n));
    p[0] = 0x47;
    p[1] = 0x01;
    p[2] = 0x00;
    p[3] = static_cast<std::uint8_t>((scrambling << 6) | 0x10 | (n & 15));
    return p;
}

struct WriterTest : ::testing::Test {
    std::unique_ptr<RunState> run = std::make_unique<RunState>();
    std::string dir = ::testing::TempDir();
    std::string path = dir + "writer_out_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".ts";
    OutputStream& slot = run->outputs[0];

    void SetUp() override {
        slot.file.path = path;
        slot.file.enabled = 1;
        slot.programme.in_use = 1;
    }
    void TearDown() override {
        if (slot.file.fd >= 0) file_close(slot.file.fd);
        std::remove(path.c_str());
    }
    long long write(int n, int live = 1, int scrambling = 0) {
        Packet p = make_packet(n, scrambling);
        return write_packet(*run, slot, p.data(), live);
    }
};

TEST_F(WriterTest, SlotsThatTakeNothingNeverCreateTheirFile) {
    slot.file.enabled = 0;
    EXPECT_EQ(write(1), 0);
    slot.file.enabled = 1;
    slot.programme.in_use = 0;
    EXPECT_EQ(write(1), 0);
    EXPECT_EQ(slot.file.fd, -1);
    EXPECT_FALSE(path_identity(path.c_str()).valid);
}

TEST_F(WriterTest, UnbufferedWritesGrowTheFilePacketByPacket) {
    run->options.buffer_mb = 0;
    EXPECT_EQ(write(1), 188);
    EXPECT_EQ(slurp(path).size(), 188u);
    EXPECT_EQ(write(2), 188);
    EXPECT_EQ(slurp(path).size(), 376u);
    EXPECT_EQ(slot.file.packets_written, 2);
}

TEST_F(WriterTest, BufferFlushesWhenTheNextPacketDoesNotFit) {
    run->options.buffer_mb = 1;  // 5577 packets fit in 1 MiB
    for (int i = 0; i < 5577; ++i) ASSERT_EQ(write(i), 0);
    EXPECT_EQ(slurp(path).size(), 0u);
    EXPECT_EQ(write(5577), 5577 * 188);
    EXPECT_EQ(slurp(path).size(), 5577u * 188u);
    EXPECT_EQ(slot.file.buffer_fill, 188u);
    EXPECT_EQ(flush_write_buffer(slot), 188);
    auto bytes = slurp(path);
    ASSERT_EQ(bytes.size(), 5578u * 188u);
    EXPECT_EQ(bytes[5577 * 188 + 100], static_cast<std::uint8_t>(5577 & 0xFF));
}

TEST_F(WriterTest, ReplayedPacketsBypassTheBufferAndComeFirst) {
    run->options.buffer_mb = 1;
    EXPECT_EQ(write(7, 0), 188);  // live = 0: written at once
    EXPECT_EQ(write(8, 1), 0);
    EXPECT_EQ(flush_write_buffer(slot), 188);
    auto bytes = slurp(path);
    ASSERT_EQ(bytes.size(), 376u);
    EXPECT_EQ(bytes[100], 7);
    EXPECT_EQ(bytes[188 + 100], 8);
}

TEST_F(WriterTest, ScrambledCountAndRingTakeOnlyLivePackets) {
    run->options.buffer_mb = 0;
    ring_resize(slot.file.overlap_ring, 3);
    write(1, 1, 1);
    write(2, 0, 1);
    write(3, 1, 0);
    write(4, 1, 2);
    write(5, 1, 3);
    EXPECT_EQ(slot.file.scrambled_count, 3);
    ASSERT_EQ(slot.file.overlap_ring.count, 3);  // the oldest live packet was dropped
    EXPECT_EQ(ring_at(slot.file.overlap_ring, 0)[100], 3);
    EXPECT_EQ(ring_at(slot.file.overlap_ring, 2)[100], 5);
    ring_clear(slot.file.overlap_ring);
    EXPECT_EQ(slot.file.overlap_ring.count, 0);
}

TEST_F(WriterTest, OverlapAfterFileTakesExactlyItsShare) {
    const std::string prev = path + ".prev";
    for (int buffer_mb : {0, 1}) {
        run->options.buffer_mb = buffer_mb;
        slot.file.overlap_after_handle = file_open_rw_create(prev.c_str());
        file_truncate(slot.file.overlap_after_handle, 0);
        slot.file.overlap_after_left = 3;
        for (int i = 0; i < 5; ++i) write(i);
        EXPECT_NE(flush_write_buffer(slot), -1);
        EXPECT_EQ(slot.file.overlap_after_handle, -1) << buffer_mb;
        EXPECT_EQ(slurp(prev).size(), 3u * 188u) << buffer_mb;
        file_close(slot.file.fd);
        slot.file.fd = -1;
    }
    std::remove(prev.c_str());
}

TEST_F(WriterTest, GopOnlyCountsButNeverOpens) {
    run->options.gop_only = 1;
    EXPECT_EQ(write(1), 188);
    EXPECT_EQ(write(2), 188);
    EXPECT_EQ(slot.file.packets_written, 2);
    EXPECT_EQ(slot.file.fd, -1);
    EXPECT_FALSE(path_identity(path.c_str()).valid);
}

TEST_F(WriterTest, TheInputFileIsNeverOpenedForWriting) {
    {
        std::ofstream f(path, std::ios::binary);
        f << std::string(376, 'R');
    }
    int source = file_open_read(path.c_str());
    run->input.source_identity = file_identity(source);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(write(1), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\nerror - failed on open [" + path + "]\n");
    EXPECT_EQ(slurp(path).size(), 376u);  // untouched
    file_close(source);
}

TEST_F(WriterTest, OpenFailureIsReported) {
    slot.file.path = dir + "no/such/folder/x.ts";
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(write(1), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\nerror - failed on open [" + slot.file.path + "]\n");
    EXPECT_EQ(slot.file.fd, -1);
}

TEST_F(WriterTest, WriteFailureOnAFullDiskIsReported) {
    if (!path_identity("/dev/full").valid) GTEST_SKIP() << "no /dev/full";
    slot.file.path = "/dev/full";
    run->options.buffer_mb = 0;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(write(1), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\nerror - failed on write() [/dev/full]\n");
    file_close(slot.file.fd);
    slot.file.fd = -1;
    slot.file.path = path;
}

}  // namespace
}  // namespace quill
