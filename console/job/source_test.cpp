#include "job/source.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_io.h"
#include "platform/system.h"

namespace quill {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct SourceTest : ::testing::Test {
    std::string folder;
    void SetUp() override {
        folder = ::testing::TempDir() + "source_test_" + std::to_string(process_id()) + "/";
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
        return out;
    }
    std::string spool_of(const Source& s) const { return folder + fs::path(s.spool_path).filename().string(); }
};

Bytes read_some(Source& s, std::size_t count) {
    Bytes b(count);
    const long long n = source_read(s, b.data(), count);
    b.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return b;
}

// A writer that hands the pipe its bytes in pieces of 1 to 70,000 bytes, with pauses: the reader
// sees short reads, as from a tuner or a network stream.
TEST_F(SourceTest, PipeReadsAreFilledAndEveryRewindReadsTheSameBytes) {
    Bytes data(300000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    if (!file_is_pipe(fds[0])) {
        file_close(fds[0]);
        file_close(fds[1]);
        GTEST_SKIP() << "this system reads pipes as files";
    }
    std::thread writer([&] {
        const std::size_t pieces[] = {1, 100, 4000, 70000};
        for (std::size_t at = 0, k = 0; at < data.size(); ++k) {
            const std::size_t n = std::min(pieces[k % 4], data.size() - at);
            if (file_write(fds[1], data.data() + at, n) != static_cast<long long>(n)) break;
            at += n;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        file_close(fds[1]);
    });
    Source s;
    ASSERT_TRUE(source_begin(s, fds[0], "", folder));
    EXPECT_TRUE(s.pipe);
    const Bytes start(data.begin(), data.begin() + 8192);
    EXPECT_EQ(read_some(s, 8192), start);  // a whole first chunk, as a file gives it
    EXPECT_EQ(read_some(s, 50000), Bytes(data.begin() + 8192, data.begin() + 58192));
    EXPECT_EQ(source_rewind(s), -1);
    // Behind the pipe's end from the spool, then on from the pipe.
    EXPECT_EQ(read_some(s, 100000), Bytes(data.begin(), data.begin() + 100000));
    EXPECT_EQ(source_rewind(s), -1);
    EXPECT_EQ(read_some(s, 1 << 20), data);
    EXPECT_EQ(read_some(s, 8192), Bytes());  // the end, as often as asked
    while (!read_some(s, 65536).empty()) {
        // a reader that stopped early must not leave the writer blocked
    }
    writer.join();
    EXPECT_EQ(names(), std::vector<std::string>{fs::path(s.spool_path).filename().string()});
    EXPECT_EQ(fs::file_size(spool_of(s)), data.size());
    source_end(s);
    EXPECT_TRUE(names().empty());
}

TEST_F(SourceTest, SpoolTakesNoExistingNameAndNeedsItsFolder) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    file_close(fds[1]);
    if (!file_is_pipe(fds[0])) {
        file_close(fds[0]);
        GTEST_SKIP() << "this system reads pipes as files";
    }
    const std::string taken = ".quillodine-" + std::to_string(process_id()) + ".spool";
    std::ofstream(folder + taken) << "not ours";
    Source s;
    ASSERT_TRUE(source_begin(s, fds[0], "", folder));
    EXPECT_NE(fs::path(s.spool_path).filename().string(), taken);
    EXPECT_EQ(read_some(s, 8192), Bytes());
    source_end(s);
    EXPECT_EQ(names(), std::vector<std::string>{taken});
    std::ifstream in(folder + taken);
    std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "not ours");

    ASSERT_EQ(pipe(fds), 0);
    file_close(fds[1]);
    EXPECT_FALSE(source_begin(s, fds[0], "", folder + "missing/"));
    EXPECT_EQ(s.spool_path, folder + "missing/" + taken);  // what the error line names
    source_end(s);
}

}  // namespace
}  // namespace quill
