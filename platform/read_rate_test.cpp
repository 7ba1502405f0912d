#include "read_rate.h"

#include <gtest/gtest.h>

#include <string>

namespace quill {
namespace {

TEST(ReadRateText, SectorsReadAreTheThirdFieldOfTheBlockStatLine) {
    unsigned long long sectors = 0;
    // reads, merged reads, sectors read, read ticks, writes ... (as the kernel pads them)
    EXPECT_TRUE(parse_block_stat_sectors_read(
        "   10239     4880  1333218     3979     6387     5325   617600     1380        0     2172     6284\n",
        sectors));
    EXPECT_EQ(sectors, 1333218u);
    EXPECT_TRUE(parse_block_stat_sectors_read("1 2 18446744073709551615 4", sectors));
    EXPECT_EQ(sectors, 18446744073709551615u);
    EXPECT_FALSE(parse_block_stat_sectors_read("", sectors));
    EXPECT_FALSE(parse_block_stat_sectors_read("  12  34\n", sectors));
    EXPECT_FALSE(parse_block_stat_sectors_read("12 x 56", sectors));
}

TEST(ReadRateText, ReadBytesIsTakenFromItsOwnLineOnly) {
    unsigned long long bytes = 0;
    const std::string io =
        "rchar: 6976\nwchar: 0\nsyscr: 10\nsyscw: 0\nread_bytes: 409600\nwrite_bytes: 0\n"
        "cancelled_write_bytes: 0\n";
    EXPECT_TRUE(parse_proc_io_read_bytes(io, bytes));
    EXPECT_EQ(bytes, 409600u);
    EXPECT_TRUE(parse_proc_io_read_bytes("xread_bytes: 5\nread_bytes: 7\n", bytes));
    EXPECT_EQ(bytes, 7u);
    EXPECT_TRUE(parse_proc_io_read_bytes("read_bytes:\t0", bytes));
    EXPECT_EQ(bytes, 0u);
    EXPECT_FALSE(parse_proc_io_read_bytes("rchar: 6976\nwrite_bytes: 0\n", bytes));
    EXPECT_FALSE(parse_proc_io_read_bytes("read_bytes: none\n", bytes));
}

TEST(ReadRate, MeasurementsThatCannotBeOpenedAreNoneAndSafeToUse) {
    EXPECT_EQ(read_rate_open_disk(-1, ""), nullptr);
    double rate = 1;
    EXPECT_FALSE(read_rate_sample(nullptr, rate));
    EXPECT_EQ(rate, 1);
    read_rate_close(nullptr);
}

}  // namespace
}  // namespace quill
