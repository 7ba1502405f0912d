#include "output/result_log.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "output/writer.h"
#include "platform/console.h"
#include "platform/file_io.h"
#include "state/messages.h"
#include "state/run_state.h"
#include "stream/stats.h"

namespace quill {

namespace {

// Opens a log for appending; -1 when it cannot be opened (the report goes on without it). A log
// name that leads to the recording being read (an input named "rec.log", a link) is refused.
int open_log(const RunState& run, const std::string& path) {
    const int fd = file_open_rw_create(path.c_str());
    if (fd >= 0 && (is_read_only_file(run, file_identity(fd)) || file_seek(fd, 0, kSeekEnd) < 0)) {
        file_close(fd);
        return -1;
    }
    return fd;
}

// Log lines are written as they are; a failed write is not reported (the logs describe the
// outputs, they are not outputs of the recording).
void write_log_text(int fd, const char* text, std::size_t length) {
    if (file_write(fd, text, length) != static_cast<long long>(length)) return;
}

void log_line(int fd, const char* format, ...) __attribute__((format(printf, 2, 3)));
void log_line(int fd, const char* format, ...) {
    if (fd < 0) return;
    char small[2048];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
        write_log_text(fd, small, static_cast<std::size_t>(n));
    } else if (n >= 0) {
        std::vector<char> big(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(big.data(), big.size(), format, args);
        write_log_text(fd, big.data(), static_cast<std::size_t>(n));
    }
    va_end(args);
}

// Size of the file on disk; 0 when it cannot be opened.
long long file_size_of(const std::string& path) {
    const int fd = file_open_read(path.c_str());
    if (fd < 0) return 0;
    const long long size = file_seek(fd, 0, kSeekEnd);
    file_close(fd);
    return size > 0 ? size : 0;
}

}  // namespace

void start_log(const RunState& run, const std::string& path) {
    const int fd = open_log(run, path);
    if (fd >= 0) file_truncate(fd, 0);
    file_close(fd);
}

std::string size_in_kb(long long bytes) {
    const std::string digits = std::to_string(bytes / 1024);
    if (digits.size() < 4) return digits;
    std::string out;
    std::size_t first = (digits.size() - 1) % 3 + 1;
    out.append(digits, 0, first);
    for (std::size_t i = first; i < digits.size(); i += 3) {
        out.push_back(',');
        out.append(digits, i, 3);
    }
    return out;
}

void report_slot_statistics(RunState& run, OutputStream& slot) {
    const SlotStatistics& stats = slot.statistics;
    if (stats.files.empty() && stats.lost_files == 0) return;
    const bool to_files = run.options.log_file != 0;
    const int summary = to_files ? open_log(run, run.input.summary_log_path) : -1;
    const int tsselect = to_files ? open_log(run, run.input.tsselect_log_path) : -1;

    for (const FileStatsSlot& file : stats.files) {
        const char* path = file.path.c_str();
        console_printf(stdout, msg::kReportPath, path);
        log_line(tsselect, msg::kTsselectLogPath, path);
        long long scrambling = 0;
        for (int pid = 0; pid < kPidCount; ++pid) {
            const PidStats* st = stats_pid(file, pid);
            if (!st) continue;
            const long long total = st->total, drop = st->drop, scr = st->scrambling, err = st->biterror;
            console_printf(stdout, msg::kReportPid, pid, total, drop, scr, err);
            log_line(tsselect, msg::kTsselectLogPid, pid, total, drop, scr, err);
            scrambling += scr;
        }
        const long long size = file_size_of(file.path);
        log_line(summary, msg::kSummaryLogLine, path, size, scrambling);
        const std::string kb = size_in_kb(size);
        console_printf(stdout, msg::kReportSize, kb.c_str(), scrambling);
        log_line(tsselect, msg::kTsselectLogSize, kb.c_str(), scrambling);
        if (file.incomplete) {
            console_write(stdout, msg::kReportIncomplete);
            log_line(tsselect, "%s", msg::kTsselectLogIncomplete);
        }
    }
    if (stats.lost_files > 0) {
        console_printf(stdout, msg::kReportLostFiles, stats.lost_files);
        log_line(tsselect, msg::kTsselectLogLostFiles, stats.lost_files);
    }
    file_close(summary);
    file_close(tsselect);
}

}  // namespace quill
