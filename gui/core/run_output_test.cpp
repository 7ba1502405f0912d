#include "run_output.h"

#include <gtest/gtest.h>

#include <vector>

namespace quill::gui {
namespace {

// The output box as the window layer keeps it: a text, a mark, and the caret at the end.
struct FakeBox final : OutputSink {
    std::string text;
    size_t mark = 0;
    void append_output(std::string_view t, AppendMode mode) override {
        const size_t from = std::min(mark, text.size());
        switch (mode) {
        case AppendMode::Clear: text.clear(); break;
        case AppendMode::Mark: mark = text.size(); break;
        case AppendMode::Replace: text = text.substr(0, from) + std::string(t); break;
        case AppendMode::Commit:
            text = text.substr(0, from) + std::string(t) + "\r\n";
            mark = text.size();
            break;
        }
    }
};

struct FakeCaption final : CaptionSink {
    std::vector<std::string> shown;
    void set_caption(std::string_view t) override { shown.emplace_back(t); }
    std::string last() const { return shown.empty() ? "" : shown.back(); }
};

class RunOutput : public ::testing::Test {
protected:
    RunReader r;
    FakeBox box;
    FakeCaption caption;
    bool child_active = true;
    int probes = 0;

    void start(int file_count, std::string_view title = "QuillodineGUI") {
        box.text = "stale";
        run_open(r, file_count, title, box);
        run_started(r, box);
    }
    TickResult tick(std::string_view bytes) {
        return run_tick(r, bytes, [this] { ++probes; return child_active; }, box, caption);
    }
};

// What the console program prints while it reads: "\r" and a line ending in a blank.
std::string progress(int percent) {
    return "\r  ( 1,234 MB/ 5,678 MB) " + std::to_string(percent) + "% ";
}
std::string progress_text(int percent) {
    return "  ( 1,234 MB/ 5,678 MB) " + std::to_string(percent) + "% ";
}

TEST_F(RunOutput, OpeningClearsTheBoxAndCutsTheSavedTitle) {
    start(1, std::string(80, 't'));
    EXPECT_EQ(box.text, "");
    EXPECT_EQ(r.saved_title, std::string(63, 't'));
}

TEST_F(RunOutput, CarriageReturnThenNewTextReplacesTheLineInPlace) {
    start(1);
    tick("first\nold line\r");
    EXPECT_EQ(box.text, "first\r\n");
    tick("new");
    EXPECT_EQ(box.text, "first\r\nold line");
    tick(" line\n");
    EXPECT_EQ(box.text, "first\r\nnew line\r\n");
}

TEST_F(RunOutput, CarriageReturnLineFeedCommits) {
    start(1);
    tick("abc\r");
    tick("\ndef\r\n");
    EXPECT_EQ(box.text, "abc\r\ndef\r\n");
}

TEST_F(RunOutput, ProgressLineStaysOneUpdateBehindTheCaption) {
    start(1, "rec");
    tick("rec.ts\n" + progress(10));
    EXPECT_EQ(box.text, "rec.ts\r\n");
    EXPECT_EQ(caption.last(), "10% - rec");
    tick(progress(20));
    EXPECT_EQ(box.text, "rec.ts\r\n" + progress_text(10));
    EXPECT_EQ(caption.last(), "20% - rec");
    tick("\r  ( 5,678 MB/ 5,678 MB) 100%\n");
    EXPECT_EQ(box.text, "rec.ts\r\n  ( 5,678 MB/ 5,678 MB) 100%\r\n");
    EXPECT_EQ(caption.last(), "100% - rec");
}

TEST_F(RunOutput, OverallPercentageAcrossFiles) {
    struct Case {
        const char* name;
        int files;
        std::vector<std::string> ticks;
        std::string caption;
        int finished;
    } cases[] = {
        {"one file at 10", 1, {progress(10)}, "10% - T", 0},
        {"10 then 5 is the next file", 2, {progress(10), progress(5)}, "52% - T", 1},
        {"second of three at 50", 3, {progress(80), progress(50)}, "49% - T", 1},
        {"error line finishes a file", 2, {"error - failed on open(a.ts) [src]\n", progress(50)},
         "75% - T", 1},
        {"error after a CR rewrite", 2, {"x\rerror - failed on select_unit_size()\n", progress(0)},
         "50% - T", 1},
        {"a percent sign without digits is no new file", 2, {progress(50), "\rratio %\n"},
         "25% - T", 0},
        {"no file count shows the file's own share", 0, {progress(40)}, "40% - T", 0},
        {"never past 100", 1, {"error - failed on write() [a]\n", progress(50)}, "100% - T", 1},
    };
    for (const Case& c : cases) {
        start(c.files, "T");
        caption.shown.clear();
        for (const std::string& t : c.ticks) tick(t);
        EXPECT_EQ(caption.last(), c.caption) << c.name;
        EXPECT_EQ(r.finished_files, c.finished) << c.name;
    }
}

TEST_F(RunOutput, PercentageNeedsOneToThreeDigitsAfterABlank) {
    struct Case {
        const char* line;
        const char* caption;  // empty: no change
    } cases[] = {
        {" 100%", "100% - T"}, {" 101%", ""},     {" 1000%", ""},    {"a10%", ""},
        {" a10%", ""},         {"x 7%", "7% - T"}, {" %", ""},        {"%", ""},
        {"10%", ""},           {"  ( 1 MB/ 2 MB) 50% H:3K S3:250", "50% - T"},
        {"7% 5%", "5% - T"},
    };
    for (const Case& c : cases) {
        start(1, "T");
        caption.shown.clear();
        tick(c.line);
        EXPECT_EQ(caption.last(), c.caption) << '[' << c.line << ']';
        EXPECT_EQ(r.finished_files, 0) << '[' << c.line << ']';
    }
}

TEST_F(RunOutput, OverlongLinesAreWrittenOutEach1000BytesAndOnlyTheLastPartStays) {
    start(1);
    tick(std::string(999, 'a'));
    EXPECT_EQ(box.text, "");
    tick("a" + std::string(998, 'b'));
    EXPECT_EQ(box.text, std::string(1000, 'a'));
    tick(std::string(2, 'b'));
    EXPECT_EQ(box.text, std::string(1000, 'b'));
    tick(std::string(500, 'c') + "\n");
    EXPECT_EQ(box.text, std::string(500, 'c') + "\r\n");
}

TEST_F(RunOutput, AtMost999BytesAreHandledPerTick) {
    start(1);
    EXPECT_EQ(tick(std::string(1500, 'z')).consumed, 999u);
    EXPECT_EQ(r.line_len, 999u);
}

TEST_F(RunOutput, EndNeedsTwoEmptyTicksAndAnExitedChild) {
    start(1, "T");
    tick("done\n");
    EXPECT_FALSE(tick("").ended);
    EXPECT_EQ(probes, 0);
    EXPECT_FALSE(tick("").ended);  // child still active
    EXPECT_EQ(probes, 1);
    child_active = false;
    EXPECT_FALSE(tick("x").ended);  // data resets the count
    EXPECT_FALSE(tick("\n").ended);
    EXPECT_FALSE(tick("").ended);
    EXPECT_TRUE(tick("").ended);
    EXPECT_EQ(box.text, "done\r\nx\r\n終了しました。\r\n");
    EXPECT_EQ(caption.last(), "終了 - T");
    EXPECT_EQ(tick("late\n").consumed, 0u);
    EXPECT_EQ(box.text, "done\r\nx\r\n終了しました。\r\n");
}

TEST_F(RunOutput, OutputWithoutAFinalLineEndIsKeptAtTheEnd) {
    child_active = false;
    struct Case {
        const char* name;
        std::vector<std::string> ticks;
        std::string box;
    } cases[] = {
        {"plain last line", {"usage\nlast words"}, "usage\r\nlast words\r\n終了しました。\r\n"},
        {"progress cut short", {progress(10), progress(20)},
         progress_text(20) + "\r\n終了しました。\r\n"},
        {"line ending in CR", {"abc\r"}, "abc\r\n終了しました。\r\n"},
        {"overlong tail", {std::string(999, 'a'), "a"}, std::string(1000, 'a') + "\r\n終了しました。\r\n"},
    };
    for (const Case& c : cases) {
        start(1);
        for (const std::string& t : c.ticks) tick(t);
        tick("");
        ASSERT_TRUE(tick("").ended) << c.name;
        EXPECT_EQ(box.text, c.box) << c.name;
    }
}

TEST_F(RunOutput, ForcedStopEndsTheShownLineAndSaysSo) {
    start(1, "T");
    tick("a.ts\n" + progress(10) + progress(20));
    run_forced_stop(r, box);
    EXPECT_EQ(box.text, "a.ts\r\n" + progress_text(20) + "\r\n強制終了しました。\r\n");
    EXPECT_EQ(caption.last(), "20% - T");  // the caption keeps the last progress
    EXPECT_EQ(tick("more\n").consumed, 0u);

    start(1, "T");
    tick("a.ts\n");
    run_forced_stop(r, box);
    EXPECT_EQ(box.text, "a.ts\r\n\r\n強制終了しました。\r\n");
}

TEST_F(RunOutput, StartFailuresCommitOneLine) {
    struct Case {
        StartError e;
        const char* text;
    } cases[] = {
        {StartError::CreatePipe, "CreatePipe Error"},
        {StartError::CreateProcess, "CreateProcess Error"},
        {StartError::SetStdOutput, "SetStdHandle(STD_OUTPUT_HANDLE) Error"},
        {StartError::SetStdError, "SetStdHandle(STD_ERROR_HANDLE) Error"},
        {StartError::CloseHandle, "CloseHandle Error"},
    };
    for (const Case& c : cases) {
        run_open(r, 1, "T", box);
        run_start_failed(r, c.e, box);
        EXPECT_EQ(box.text, std::string(c.text) + "\r\n");
        EXPECT_EQ(tick("x\n").consumed, 0u);
    }
}

TEST(OverallPercent, SharesAndLimits) {
    struct Case {
        int v, n, f, want;
    } cases[] = {{50, 3, 1, 49}, {100, 3, 2, 99}, {0, 1, 0, 0}, {100, 1, 0, 100},
                 {30, 0, 4, 30}, {30, -1, 0, 30}, {90, 2, 5, 100}};
    for (const Case& c : cases) {
        EXPECT_EQ(overall_percent(c.v, c.n, c.f), c.want) << c.v << '/' << c.n << '/' << c.f;
    }
}

}  // namespace
}  // namespace quill::gui
