#include "run_output.h"

#include <algorithm>
#include <cstdio>

#include "texts.h"

namespace quill::gui {
namespace {

std::string with_title(const char* fmt, int value, const std::string& title) {
    char buf[32 + kSavedTitleMax + 64];
    std::snprintf(buf, sizeof buf, fmt, value, title.c_str());
    return buf;
}

std::string with_title(const char* fmt, const std::string& title) {
    char buf[kSavedTitleMax + 64];
    std::snprintf(buf, sizeof buf, fmt, title.c_str());
    return buf;
}

std::string_view line_text(const RunReader& r, size_t len) {
    return std::string_view(r.line.data(), len);
}

void replace_line(RunReader& r, size_t len, OutputSink& out) {
    out.append_output(line_text(r, len), AppendMode::Replace);
    r.shown_unfinished = true;
}

void commit(RunReader& r, std::string_view text, OutputSink& out) {
    out.append_output(text, AppendMode::Commit);
    r.shown_unfinished = false;
}

// Progress lines end in " 21%" and the like: one to three digits with a blank before them.
void detect_percentage(RunReader& r, size_t p, CaptionSink& caption) {
    size_t digits = 0;
    bool match = false;
    for (size_t back = 1; back <= 4 && back <= p; ++back) {
        const char c = r.line[p - back];
        if (c >= '0' && c <= '9') {
            ++digits;
            continue;
        }
        match = c == ' ' && digits > 0;
        break;
    }
    if (!match) return;
    int v = 0;
    for (size_t i = p - digits; i < p; ++i) v = v * 10 + (r.line[i] - '0');
    if (v > 100) return;
    // A smaller value means the child went on to its next input file.
    if (v < r.last_percent) ++r.finished_files;
    r.last_percent = v;
    caption.set_caption(with_title(text::kProgressCaption,
                                   overall_percent(v, r.file_count, r.finished_files),
                                   r.saved_title));
}

void handle_byte(RunReader& r, char c, OutputSink& out, CaptionSink& caption) {
    if (c == '\n') {
        const size_t len = r.cr_pos > 0 ? r.cr_pos : r.line_len;
        const std::string_view text = line_text(r, len);
        commit(r, text, out);
        if (text.starts_with("error - ")) ++r.finished_files;
        r.line_len = 0;
        r.cr_pos = 0;
        return;
    }
    if (c == '\r') {
        if (r.line_len > 0) r.cr_pos = r.line_len;
        return;
    }
    if (r.cr_pos > 0) {
        // The line is being rewritten: show what it held and start it again.
        replace_line(r, r.cr_pos, out);
        r.line_len = 0;
        r.cr_pos = 0;
    }
    r.line[r.line_len] = c;
    if (c == '%') detect_percentage(r, r.line_len, caption);
    if (++r.line_len == kLineMax) {
        replace_line(r, kLineMax, out);
        r.line_len = 0;
    }
}

// Bytes still in the line buffer would be lost when the box's own closing line replaces the text
// after the mark: show them, and end any unfinished line so that it stays.
void show_pending(RunReader& r, OutputSink& out) {
    if (r.line_len > 0) replace_line(r, r.line_len, out);
    r.line_len = 0;
    r.cr_pos = 0;
}

}  // namespace

const char* start_error_text(StartError e) {
    switch (e) {
    case StartError::CreatePipe: return text::kCreatePipeError;
    case StartError::CreateProcess: return text::kCreateProcessError;
    case StartError::SetStdOutput: return text::kSetStdOutError;
    case StartError::SetStdError: return text::kSetStdErrError;
    case StartError::CloseHandle: return text::kCloseHandleError;
    }
    return "";
}

int overall_percent(int percent, int file_count, int finished_files) {
    if (file_count <= 0) return std::min(percent, 100);
    const long long share = 100 / file_count;
    const long long overall = percent / file_count + share * finished_files;
    return static_cast<int>(std::min(overall, 100LL));
}

void run_open(RunReader& r, int file_count, std::string_view main_title, OutputSink& out) {
    r = RunReader{};
    r.file_count = file_count;
    r.saved_title = std::string(main_title.substr(0, kSavedTitleMax));
    out.append_output("", AppendMode::Clear);
}

void run_started(RunReader& r, OutputSink& out) {
    out.append_output("", AppendMode::Mark);
    r.line_len = 0;
    r.cr_pos = 0;
    r.empty_reads = 0;
    r.shown_unfinished = false;
    r.running = true;
}

void run_start_failed(RunReader& r, StartError e, OutputSink& out) {
    r.running = false;
    commit(r, start_error_text(e), out);
}

TickResult run_tick(RunReader& r, std::string_view chunk,
                    const std::function<bool()>& child_still_active, OutputSink& out,
                    CaptionSink& caption) {
    TickResult result;
    if (!r.running) return result;
    chunk = chunk.substr(0, kReadChunkMax);
    result.consumed = chunk.size();
    if (!chunk.empty()) {
        r.empty_reads = 0;
        for (char c : chunk) handle_byte(r, c, out, caption);
        return result;
    }
    if (++r.empty_reads < 2) return result;
    if (child_still_active && child_still_active()) return result;

    if (r.line_len > 0 || r.shown_unfinished) {
        show_pending(r, out);
        out.append_output("", AppendMode::Mark);
        commit(r, "", out);
    }
    commit(r, text::kRunEnded, out);
    caption.set_caption(with_title(text::kEndedCaption, r.saved_title));
    r.running = false;
    result.ended = true;
    return result;
}

void run_forced_stop(RunReader& r, OutputSink& out) {
    if (!r.running) return;
    show_pending(r, out);
    out.append_output("", AppendMode::Mark);
    commit(r, "", out);
    commit(r, text::kRunStopped, out);
    r.running = false;
}

}  // namespace quill::gui
