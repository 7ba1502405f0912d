// A disk that fills during the run. The outputs go to a 256 KiB tmpfs mounted for the test; where
// mounting is not allowed (no root, a container without the capability) the same limit comes from
// RLIMIT_FSIZE with SIGXFSZ ignored, so that a write past 256 KiB fails with EFBIG instead of
// killing the program. Either way the write failure is reported with its line, the input stops,
// the exit code is 2 and the next input of the list is still tried. With the tmpfs the test also
// shows that nothing is left open: it can be unmounted right after the run.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "synth.h"

namespace {

constexpr long kDiskBytes = 256 * 1024;

struct SmallDisk {
    std::string path;
    bool mounted = false;
    rlimit saved{};
    bool limited = false;

    explicit SmallDisk(const std::string& at) : path(at) {
        mkdir(path.c_str(), 0755);
        mounted = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=256k") == 0;
    }
    // Without a mount: only around the run, so that the test's own files are not limited.
    void begin_run() {
        if (mounted) return;
        std::signal(SIGXFSZ, SIG_IGN);  // ignored signals stay ignored across exec
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = kDiskBytes;
        limited = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    void end_run() {
        if (limited) setrlimit(RLIMIT_FSIZE, &saved);
        limited = false;
    }
    ~SmallDisk() {
        end_run();
        if (mounted) umount2(path.c_str(), MNT_DETACH);
    }
};

e2e::Bytes recording(std::uint64_t packets) {
    return synth::to_units(synth::generate(synth::hd_multiplex(), synth::Config{.packets = packets}));
}

struct FullDisk : ::testing::Test {
    e2e::TempDir dir;
    SmallDisk disk{dir.file("out")};
    void SetUp() override {
        e2e::write_file(dir.file("big.ts"), recording(12000));  // about 2 MiB: fills the disk
        e2e::write_file(dir.file("small.ts"), recording(600));  // about 110 KiB
    }
    e2e::RunResult run(std::vector<std::string> args) {
        args.insert(args.begin(), {"-OUT", disk.path});
        disk.begin_run();
        e2e::RunResult r = e2e::run_quillodine(args, dir.path);
        disk.end_run();
        return r;
    }
    // The run left nothing open on the disk: it can be unmounted (and is mounted again).
    void expect_nothing_left_open() {
        if (!disk.mounted) return;
        EXPECT_EQ(umount2(disk.path.c_str(), 0), 0) << "busy after the run";
        disk.mounted = mount("tmpfs", disk.path.c_str(), "tmpfs", 0, "size=256k") == 0;
    }
};

TEST_F(FullDisk, WriteFailureStopsTheInputAndTheListGoesOn) {
    for (const char* buff : {"0", "1", "10"}) {
        SCOPED_TRACE(buff);
        e2e::RunResult r = run({"-BUFF", buff, "big.ts", "small.ts"});
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.err, "");
        const std::string failed = "\nerror - failed on write() [" + disk.path + "/big_HD.ts]\n";
        const auto at = r.out.find(failed);
        ASSERT_NE(at, std::string::npos) << r.out;
        // The failing input stops there (its other outputs are still flushed and closed, each
        // failure with its line), and the next input follows.
        EXPECT_GT(r.out.find("small.ts\n"), at) << r.out;
        // Under -BUFF 0 and 1 the failure comes while reading: no closing line for the input.
        if (std::string(buff) != "10") {
            EXPECT_EQ(r.out.find("big.ts\n\r"), std::string::npos) << r.out;
        }
        struct stat st {};
        ASSERT_EQ(stat((disk.path + "/big_HD.ts").c_str(), &st), 0);
        EXPECT_LE(st.st_size, kDiskBytes);
        expect_nothing_left_open();
    }
}

// GOP lists and logs on the full disk: their write errors are ignored, the stream's is reported.
TEST_F(FullDisk, GopListsAndLogsOnAFullDisk) {
    e2e::RunResult r = run({"-BUFF", "1", "-GOPCH", "-LOGFILE", "-PTS", "-SEP2", "big.ts", "small.ts"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("\nerror - failed on write() [" + disk.path + "/big_HD.ts]\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("small.ts\n"), std::string::npos);
    expect_nothing_left_open();
    // Only lists and logs: the disk fills with them alone and the run still ends normally.
    r = run({"-GOPONLYCH", "-LOGFILE", "big.ts", "small.ts"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(r.err, "");
    expect_nothing_left_open();
}

// After a programme split the old file goes on taking the first xx2 x 1024 packets (-OVL0,1). When
// it cannot grow any more (a file size limit reached in that stretch), that failed write is
// reported and ends the input like any other, buffered or not.
TEST(TrailingOverlapTest, FailedWriteToThePreviousFileEndsTheInput) {
    e2e::TempDir dir;
    e2e::write_file(dir.file("rec.ts"),
                    synth::to_units(synth::generate(synth::hd_multiplex(), synth::Config{.packets = 20000},
                                                    {synth::event_change(15000, 0x0400, 2)})));
    for (const char* buff : {"0", "1"}) {
        SCOPED_TRACE(buff);
        const std::vector<std::string> args{"-1SEG", "-SEP", "-OVL0,1", "-BUFF", buff, "rec.ts"};
        e2e::RunResult r = e2e::run_quillodine(args, dir.path);
        ASSERT_EQ(r.exit_code, 0) << r.out;
        const long whole = static_cast<long>(e2e::read_file(dir.file("rec_HD.ts")).size());
        ASSERT_LT(static_cast<long>(e2e::read_file(dir.file("rec_HD-1.ts")).size()), whole - 50 * 188);

        // Every file may now grow to 50 packets less than the old file took.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = static_cast<rlim_t>(whole - 50 * 188);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        r = e2e::run_quillodine(args, dir.path);
        setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(r.exit_code, 2) << r.out;
        EXPECT_NE(r.out.find("\nerror - failed on write() [rec_HD.ts]\n"), std::string::npos) << r.out;
        // Unbuffered, the failure comes while reading: the input is not read on. (A buffer gives the
        // old file its overlap when the buffer is written out, here at the end of the input.)
        if (std::string(buff) == "0") {
            EXPECT_EQ(r.out.find("100%"), std::string::npos) << r.out;
        }
    }
}

}  // namespace
