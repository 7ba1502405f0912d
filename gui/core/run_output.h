// The run window's reading of the console program's output: lines assembled from the pipe's
// bytes, carriage-return progress lines redrawn in place, the progress percentage found in the
// text and turned into an overall percentage for the main window's caption.
//
// The window layer owns the pipe, the timer and the child process; once per timer tick it reads at
// most 999 bytes and hands them to run_tick, which drives the two sinks below.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace quill::gui {

inline constexpr size_t kReadChunkMax = 999;  // bytes handled per tick
inline constexpr size_t kLineMax = 1000;      // longest line kept before it is written out
inline constexpr size_t kSavedTitleMax = 63;  // main window caption kept for the progress texts

// How a text reaches the output box. The box keeps a mark: where the line being received begins.
enum class AppendMode {
    Clear,    // the box becomes empty; the mark stays
    Mark,     // the mark moves to the caret (the end of the text after a write)
    Replace,  // the text from the mark to the end becomes `text`; the mark stays
    Commit,   // as Replace with `text` and "\r\n", then as Mark
};

struct OutputSink {
    virtual ~OutputSink() = default;
    virtual void append_output(std::string_view text, AppendMode mode) = 0;
};

struct CaptionSink {
    virtual ~CaptionSink() = default;
    virtual void set_caption(std::string_view text) = 0;
};

struct RunReader {
    int file_count = 0;            // input files the argument line names (may be 0)
    std::string saved_title;       // main window caption when the run window opened
    std::array<char, kLineMax + 1> line{};
    size_t line_len = 0;
    size_t cr_pos = 0;             // line length at the last carriage return, 0 when none
    int empty_reads = 0;           // ticks in a row that delivered nothing
    int finished_files = 0;
    int last_percent = 0;
    bool shown_unfinished = false; // text after the mark written in Replace mode, not committed
    bool running = false;          // between a successful start and the end or a forced stop
};

// Opening the window: counters cleared, box cleared, the caption to come back to remembered.
void run_open(RunReader& r, int file_count, std::string_view main_title, OutputSink& out);
// The child runs: the box marks where its output begins.
void run_started(RunReader& r, OutputSink& out);

enum class StartError { CreatePipe, CreateProcess, SetStdOutput, SetStdError, CloseHandle };
const char* start_error_text(StartError e);
// A start-up step failed: one committed line says which.
void run_start_failed(RunReader& r, StartError e, OutputSink& out);

struct TickResult {
    size_t consumed = 0;  // bytes of the chunk handled (never more than kReadChunkMax)
    bool ended = false;   // the run ended in this tick
};

// One timer tick with the bytes read (empty when the read failed or delivered nothing).
// `child_still_active` is asked only after two empty ticks in a row.
TickResult run_tick(RunReader& r, std::string_view chunk,
                    const std::function<bool()>& child_still_active, OutputSink& out,
                    CaptionSink& caption);

// The user stopped the child. The caption keeps its last progress text.
void run_forced_stop(RunReader& r, OutputSink& out);

// The overall percentage over all input files; with no file count known it is the current
// file's own percentage, and it never passes 100.
int overall_percent(int percent, int file_count, int finished_files);

}  // namespace quill::gui
