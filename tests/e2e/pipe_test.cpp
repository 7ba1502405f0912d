// Inputs that cannot seek, end to end: a FIFO fed in small pieces whose one-segment service
// appears late (the pass restarts from the spool) and whose writer stops inside a packet, the
// standard input's names and a spool that cannot be made, and the spool removed when the program
// is interrupted. scripts/pipe-output.sh compares pipes and files over every scenario and option
// set; these are the seams it does not reach.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "synth.h"

extern char** environ;

namespace {

using e2e::Bytes;

struct Child {
    pid_t pid = -1;
    int out_fd = -1;  // standard output and error, an unlinked file read back at the end
};

struct Ended {
    int status = 0;
    std::string out;
};

// Starts the program in `cwd` with `stdin_fd` as its standard input (closed in the parent).
Child spawn(const std::vector<std::string>& args, const std::string& cwd, int stdin_fd = -1,
            bool ignore_sigint = false) {
    Child c;
    std::string templ = cwd + "/.out-XXXXXX";
    c.out_fd = mkstemp(templ.data());
    EXPECT_GE(c.out_fd, 0);
    unlink(templ.c_str());
    const std::string exe = e2e::quillodine_binary();
    c.pid = fork();
    if (c.pid == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        dup2(stdin_fd >= 0 ? stdin_fd : open("/dev/null", O_RDONLY), 0);
        dup2(c.out_fd, 1);
        dup2(c.out_fd, 2);
        if (ignore_sigint) signal(SIGINT, SIG_IGN);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execve(exe.c_str(), argv.data(), environ);
        _exit(127);
    }
    if (stdin_fd >= 0) close(stdin_fd);
    return c;
}

Ended wait_for(Child& c) {
    Ended e;
    waitpid(c.pid, &e.status, 0);
    lseek(c.out_fd, 0, SEEK_SET);
    char buf[4096];
    for (ssize_t n; (n = read(c.out_fd, buf, sizeof buf)) > 0;) e.out.append(buf, static_cast<std::size_t>(n));
    close(c.out_fd);
    return e;
}

// Writes `bytes` in pieces of `piece` bytes, pausing `pause_us` after each; false once the reader
// has gone.
bool write_pieces(int fd, const Bytes& bytes, std::size_t from, std::size_t to, std::size_t piece, int pause_us) {
    for (std::size_t at = from; at < to;) {
        const ssize_t n = write(fd, bytes.data() + at, std::min(piece, to - at));
        if (n <= 0) return false;
        at += static_cast<std::size_t>(n);
        if (pause_us > 0) std::this_thread::sleep_for(std::chrono::microseconds(pause_us));
    }
    return true;
}

// The file run's console text as a pipe prints it: the final line gives the megabytes read.
std::string as_from_a_pipe(const std::string& file_out) {
    // "\r  ( 6 MB/ 6 MB) 100%" -> "\r  ( 6 MB)" (std::regex is avoided: GCC 12 warns inside it)
    std::string out = file_out;
    const std::size_t start = out.rfind("\r  ( ");
    const std::size_t read_end = start == std::string::npos ? start : out.find(" MB/ ", start);
    const std::size_t end = read_end == std::string::npos ? read_end : out.find(" MB) 100%", read_end);
    if (end != std::string::npos) out.replace(read_end, end + 9 - read_end, " MB)");
    return out;
}

std::vector<std::string> spools_in(const std::string& dir) {
    std::vector<std::string> found;
    for (const std::string& name : e2e::list_dir(dir))
        if (name.rfind(".quillodine-", 0) == 0) found.push_back(name);
    return found;
}

// The terrestrial HD multiplex whose one-segment service only starts after `late_packet`.
Bytes late_oneseg_recording(std::uint64_t late_packet, std::uint64_t packets) {
    synth::Multiplex m = synth::hd_multiplex();
    std::erase_if(m.services, [](const synth::Service& s) { return s.pmt_pid == synth::kPidOneSeg1; });
    std::erase_if(m.videos, [](const synth::VideoSource& v) { return v.pid == 0x0181; });
    std::erase_if(m.audios, [](const synth::AudioSource& a) { return a.pid == 0x0183; });
    synth::Config c;
    c.packets = packets;
    const auto all = synth::generate(m, c, {{late_packet, [](synth::Multiplex& mm) {
                                                   synth::add_oneseg(mm, synth::oneseg_service());
                                               }}});
    return e2e::concat(all);
}

class PipeE2E : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef QUILL_E2E_WINDOWS_PROGRAM
        GTEST_SKIP() << "Windows reads pipes as files";
#endif
        signal(SIGPIPE, SIG_IGN);  // a writer whose reader is gone gets EPIPE
    }
    e2e::TempDir dir;
};

// The one-segment service comes 1.5 MB in, after the first refill: the pass that takes it up
// reads that far from the spool, then the rest from the pipe. The writer hands over the first
// 10,000 bytes 100 at a time (the unit size is still found on a whole first chunk) and stops
// inside a packet.
TEST_F(PipeE2E, FifoInSmallPiecesWithALateOneSegmentServiceGivesTheFileOutputs) {
    Bytes input = late_oneseg_recording(8000, 20000);
    input.resize(input.size() - 100);
    mkdir(dir.file("file").c_str(), 0755);
    mkdir(dir.file("fifo").c_str(), 0755);
    e2e::write_file(dir.file("file/rec.ts"), input);
    const e2e::RunResult from_file = e2e::run_quillodine({"rec.ts"}, dir.file("file"));
    ASSERT_EQ(from_file.exit_code, 0) << from_file.out;
    ASSERT_EQ(e2e::list_dir(dir.file("file")), (std::vector<std::string>{"rec.ts", "rec_1SEG.ts", "rec_HD.ts"}));

    ASSERT_EQ(mkfifo(dir.file("fifo/rec.ts").c_str(), 0644), 0);
    Child c = spawn({"rec.ts"}, dir.file("fifo"));
    const int w = open(dir.file("fifo/rec.ts").c_str(), O_WRONLY);
    ASSERT_GE(w, 0);
    EXPECT_TRUE(write_pieces(w, input, 0, 10000, 100, 200));
    EXPECT_TRUE(write_pieces(w, input, 10000, input.size(), 65536, 0));
    close(w);
    const Ended from_fifo = wait_for(c);
    ASSERT_TRUE(WIFEXITED(from_fifo.status));
    EXPECT_EQ(WEXITSTATUS(from_fifo.status), 0);
    EXPECT_EQ(from_fifo.out, as_from_a_pipe(from_file.out));
    EXPECT_EQ(e2e::list_dir(dir.file("fifo")), e2e::list_dir(dir.file("file")));  // no spool left
    for (const char* name : {"rec_HD.ts", "rec_1SEG.ts"})
        EXPECT_TRUE(e2e::read_file(dir.file(std::string("fifo/") + name)) ==
                    e2e::read_file(dir.file(std::string("file/") + name)))
            << name << " differs";
}

// "-" is the standard input: named as a recording stdin.ts in the current folder. Its spool goes
// into the output folder; a missing one is reported and the next input is still processed.
// A pipe given by a device path (/dev/fd/0) is split into the current folder as 0.ts.
TEST_F(PipeE2E, StandardInputIsNamedStdinAndItsSpoolNeedsTheOutputFolder) {
    const Bytes input = e2e::concat(synth::hd({.seconds = 1.0}));
    mkdir(dir.file("file").c_str(), 0755);
    mkdir(dir.file("stdin").c_str(), 0755);
    e2e::write_file(dir.file("file/rec.ts"), input);
    const e2e::RunResult from_file = e2e::run_quillodine({"rec.ts"}, dir.file("file"));
    ASSERT_EQ(from_file.exit_code, 0);

    for (const char* out : {"", "missing", "/dev/fd/0"}) {
        SCOPED_TRACE(out);
        e2e::write_file(dir.file("stdin/rec.ts"), input);
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);  // the child holds no write end: the pipe can end
        // A process substitution's /dev/fd/N: named as a recording N.ts in the current folder.
        const bool device_path = std::string(out) == "/dev/fd/0";
        std::vector<std::string> args{"-"};
        if (device_path)
            args = {out};
        else if (*out)
            args = {"-OUT", out, "-", "rec.ts"};
        Child c = spawn(args, dir.file("stdin"), fds[0]);
        write_pieces(fds[1], input, 0, input.size(), 65536, 0);
        close(fds[1]);
        const Ended e = wait_for(c);
        ASSERT_TRUE(WIFEXITED(e.status));
        if (device_path) {
            EXPECT_EQ(WEXITSTATUS(e.status), 0) << e.out;
            EXPECT_EQ(e2e::list_dir(dir.file("stdin")), (std::vector<std::string>{"0_1SEG.ts", "0_HD.ts", "rec.ts"}));
            EXPECT_TRUE(e2e::read_file(dir.file("stdin/0_HD.ts")) == e2e::read_file(dir.file("file/rec_HD.ts")));
        } else if (!*out) {
            EXPECT_EQ(WEXITSTATUS(e.status), 0);
            std::string want = as_from_a_pipe(from_file.out);
            const std::size_t name_line = want.find("\nrec.ts\n");
            ASSERT_NE(name_line, std::string::npos);
            want.replace(name_line, 8, "\n-\n");
            EXPECT_EQ(e.out, want);
            EXPECT_EQ(e2e::list_dir(dir.file("stdin")), (std::vector<std::string>{"rec.ts", "stdin_1SEG.ts", "stdin_HD.ts"}));
            EXPECT_TRUE(e2e::read_file(dir.file("stdin/stdin_HD.ts")) == e2e::read_file(dir.file("file/rec_HD.ts")));
            EXPECT_TRUE(e2e::read_file(dir.file("stdin/stdin_1SEG.ts")) == e2e::read_file(dir.file("file/rec_1SEG.ts")));
        } else {
            EXPECT_EQ(WEXITSTATUS(e.status), 2);
            const std::string head = "\n-\nerror - failed on open(missing/.quillodine-";
            const std::string tail = ".spool) [spool]\nrec.ts\n";
            const std::size_t at = e.out.find(head);
            ASSERT_NE(at, std::string::npos) << e.out;
            const std::size_t pid_end = e.out.find_first_not_of("0123456789", at + head.size());
            EXPECT_GT(pid_end, at + head.size()) << e.out;
            EXPECT_EQ(e.out.compare(pid_end, tail.size(), tail), 0) << e.out;
        }
        std::filesystem::remove_all(dir.file("stdin"));
        mkdir(dir.file("stdin").c_str(), 0755);
    }
}

// Interrupted while it waits on an open FIFO for more of the recording: the spool in the output
// folder is removed and the program ends by the signal. A SIGINT it was started to ignore (a
// background job, nohup) stays ignored, and the input then ends normally.
TEST_F(PipeE2E, InterruptRemovesTheSpool) {
    const Bytes input = e2e::concat(synth::hd({.seconds = 1.0}));
    const std::size_t part = 300000;
    ASSERT_EQ(mkfifo(dir.file("rec.ts").c_str(), 0644), 0);
    mkdir(dir.file("out").c_str(), 0755);
    struct Case {
        int signal_number;
        bool ignored;
    } cases[] = {{SIGINT, false}, {SIGTERM, false}, {SIGINT, true}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.signal_number) + (k.ignored ? " ignored" : ""));
        Child c = spawn({"-OUT", "out", "rec.ts"}, dir.path, -1, k.ignored);
        const int w = open(dir.file("rec.ts").c_str(), O_WRONLY);
        ASSERT_GE(w, 0);
        ASSERT_TRUE(write_pieces(w, input, 0, part, 65536, 0));
        // Everything written has reached the spool: the program waits for the rest.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::vector<std::string> spools;
        while (std::chrono::steady_clock::now() < deadline) {
            spools = spools_in(dir.file("out"));
            struct stat st {};
            if (spools.size() == 1 && stat(dir.file("out/" + spools[0]).c_str(), &st) == 0 &&
                st.st_size == static_cast<off_t>(part))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_EQ(spools.size(), 1u);
        kill(c.pid, k.signal_number);
        if (k.ignored) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_TRUE(write_pieces(w, input, part, input.size(), 65536, 0));
        }
        close(w);
        const Ended e = wait_for(c);
        if (k.ignored) {
            ASSERT_TRUE(WIFEXITED(e.status)) << e.out;
            EXPECT_EQ(WEXITSTATUS(e.status), 0);
        } else {
            ASSERT_TRUE(WIFSIGNALED(e.status)) << e.out;
            EXPECT_EQ(WTERMSIG(e.status), k.signal_number);
        }
        EXPECT_EQ(spools_in(dir.file("out")), std::vector<std::string>{});
    }
}

}  // namespace
