// The recording is never harmed: it is opened for reading only, and any file the run would write
// (stream output, GOP list, log) that turns out to be the recording itself — by its name, through
// a hard link or a symbolic link, or by -FLEN shortening a name onto it — is refused. A refused
// stream output gets the open line and the input fails; a refused companion file is simply not
// written. The recording's bytes are compared after every run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "e2e_support.h"
#include "synth.h"

namespace {

using e2e::Bytes;

Bytes recording() {
    synth::Multiplex m = synth::hd_multiplex();
    m.pat_ms = m.pmt_ms = 2;
    return synth::to_units(synth::generate(m, synth::Config{.packets = 3000}));
}

struct Harm : ::testing::Test {
    e2e::TempDir dir;
    Bytes original = recording();
    void put(const std::string& name) { e2e::write_file(dir.file(name), original); }
    void expect_untouched(const std::string& name) {
        const Bytes now = e2e::read_file(dir.file(name));
        EXPECT_EQ(now.size(), original.size()) << name;
        EXPECT_TRUE(now == original) << name;
    }
    e2e::RunResult run(const std::vector<std::string>& args) {
        e2e::RunResult r = e2e::run_quillodine(args, dir.path);
        EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 2) << r.err;
        EXPECT_EQ(r.err, "");
        return r;
    }
};

const std::string kSummary = "EITフラグ:オフ／ECMフラグ:オフ／EMMフラグ:オフ／HD○,SD○○○,1SEG○\n";

// The output names lead to the recording through a symbolic link and through a hard link.
TEST_F(Harm, StreamOutputThatIsTheRecordingThroughALink) {
    put("rec.ts");
    ASSERT_EQ(symlink("rec.ts", dir.file("rec_HD.ts").c_str()), 0);
    e2e::RunResult r = run({"rec.ts"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.out.find("\nerror - failed on open [rec_HD.ts]\n"), std::string::npos) << r.out;
    expect_untouched("rec.ts");

    put("hard.ts");
    ASSERT_EQ(link(dir.file("hard.ts").c_str(), dir.file("hard_1SEG.ts").c_str()), 0);
    r = run({"hard.ts"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.out.find("\nerror - failed on open [hard_1SEG.ts]\n"), std::string::npos) << r.out;
    expect_untouched("hard.ts");
}

// -FLEN cuts the base name one character at a time until the path fits in 255 bytes: a
// 255-byte input "P_HD.ts" gives "P_HD_HD.ts", cut by three characters back to "P_HD.ts".
TEST_F(Harm, FlenShorteningOntoTheRecordingsOwnName) {
    const std::string name = std::string(249, 'p') + "_HD.ts";
    ASSERT_EQ(name.size(), 255u);
    put(name);
    e2e::RunResult r = run({"-FLEN", name});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.out.find("\nerror - failed on open [" + name + "]\n"), std::string::npos) << r.out;
    expect_untouched(name);
}

// -GOPONLY without -OUT names the stream output after the recording itself; it is never opened,
// and the GOP list goes beside it.
TEST_F(Harm, GopOnlyWithoutOutFolder) {
    put("rec.ts");
    for (const char* option : {"-GOPONLY", "-GOPONLYCH", "-GOPONLYTIME"}) {
        SCOPED_TRACE(option);
        e2e::RunResult r = run({option, "rec.ts"});
        EXPECT_EQ(r.exit_code, 0) << r.out;
        expect_untouched("rec.ts");
    }
}

// GOP lists whose names lead to the recording (symbolic link, hard link) are not written; the
// streams are, and the run succeeds.
TEST_F(Harm, GopListThatIsTheRecording) {
    put("rec.ts");
    ASSERT_EQ(symlink("rec.ts", dir.file("rec_HD.ts.txt").c_str()), 0);
    put("hard.ts");
    ASSERT_EQ(link(dir.file("hard.ts").c_str(), dir.file("hard_HD.ts.txt").c_str()), 0);
    put("only.ts");
    ASSERT_EQ(symlink("only.ts", dir.file("only.ts.txt").c_str()), 0);
    e2e::RunResult r = run({"-GOP", "rec.ts", "hard.ts"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    expect_untouched("rec.ts");
    expect_untouched("hard.ts");
    EXPECT_TRUE(e2e::file_exists(dir.file("rec_HD.ts")));
    r = run({"-GOPONLY", "only.ts"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    expect_untouched("only.ts");
}

// The logs are named after the recording with ".log": a recording that itself ends in ".log",
// or whose log name is a link to it, keeps its bytes; the streams are still written.
TEST_F(Harm, LogFilesThatAreTheRecording) {
    put("rec.log");                 // the summary log of rec.log is rec.log
    put("take_tsselect.log");       // the summary log of take_tsselect.log is itself
    put("linked.ts");
    ASSERT_EQ(symlink("linked.ts", dir.file("linked_tsselect.log").c_str()), 0);
    ASSERT_EQ(link(dir.file("linked.ts").c_str(), dir.file("linked.log").c_str()), 0);
    for (const char* option : {"-LOGFILE", "-LOG"}) {
        SCOPED_TRACE(option);
        e2e::RunResult r = run({option, "rec.log", "take_tsselect.log", "linked.ts"});
        EXPECT_EQ(r.exit_code, 0) << r.out;
        expect_untouched("rec.log");
        expect_untouched("take_tsselect.log");
        expect_untouched("linked.ts");
        EXPECT_TRUE(e2e::file_exists(dir.file("rec_HD.log")) || e2e::file_exists(dir.file("rec_HD.ts")));
    }
}

// A list file is only read, also when a log of the run would carry its name: the summary log of
// rec.ts (rec.log) is refused rather than replacing the list.
TEST_F(Harm, ListFileIsOnlyRead) {
    put("rec.ts");
    const std::string list = "rec.ts\r\n";
    e2e::write_text(dir.file("rec.log"), list);  // the summary log name of rec.ts
    chmod(dir.file("rec.log").c_str(), 0644);
    e2e::RunResult r = run({"-LOGFILE", "-FLIST", "rec.log"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    expect_untouched("rec.ts");
    const Bytes now = e2e::read_file(dir.file("rec.log"));
    EXPECT_EQ(std::string(now.begin(), now.end()), list);
}

// The recording is opened read-only: a recording without write permission is processed like any
// other (root may write anything, so the mode bits alone prove nothing there; the check is that
// the run neither needs nor changes them).
TEST_F(Harm, ReadOnlyRecording) {
    put("rec.ts");
    ASSERT_EQ(chmod(dir.file("rec.ts").c_str(), 0444), 0);
    e2e::RunResult r = run({"-EIT", "-GOP", "-LOGFILE", "rec.ts"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    struct stat st {};
    ASSERT_EQ(stat(dir.file("rec.ts").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    expect_untouched("rec.ts");
}

}  // namespace
