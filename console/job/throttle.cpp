#include "job/throttle.h"

#include <algorithm>
#include <cstdio>

#include "job/descrambler.h"
#include "job/job_context.h"
#include "job/options.h"
#include "platform/console.h"
#include "platform/read_rate.h"
#include "state/messages.h"

namespace quill {

namespace {

std::string format(const char* fmt, long long value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, fmt, static_cast<int>(value));
    return buf;
}

std::string scrambled_count_text(int count) {
    if (count > 1000000) return format(msg::kProgressCountMega, count / 1000000);
    if (count > 1000) return format(msg::kProgressCountKilo, count / 1000);
    return format(msg::kProgressCount, count);
}

std::string slot_label(int slot) {
    if (slot == kSlotHd) return msg::kProgressLabelHd;
    if (slot == kSlotOneSeg || slot == kSlotOneSeg2) return msg::kProgressLabelOneSeg;
    // Numbered from the slot less one: the first SD/CS output (slot 3) shows as S2. The labels are
    // part of the line's fixed bytes.
    return format(msg::kProgressLabelMulti, slot - 1);
}

ProgressFigures figures_of(const JobContext& ctx) {
    const RunState& run = ctx.run;
    ProgressFigures f;
    f.bytes_read = ctx.job.total_read;
    f.file_size = ctx.job.file_size;
    f.emm_count = descrambler_emm_count(ctx.descrambler);
    for (int i = 0; i < kSlotCount; ++i)
        f.scrambled[static_cast<std::size_t>(i)] = run.outputs[static_cast<std::size_t>(i)].file.scrambled_count;
    return f;
}

void write_line(const std::string& text) {
    console_printf(stdout, "\r%s", text.c_str());
    std::fflush(stdout);
}

// What everyone but this process read from the disk in the last second; none when a measurement
// is missing or cannot be read.
std::optional<double> others_read_rate(ThrottleState& t) {
    if (!t.disk || !t.process) return std::nullopt;
    double disk = 0, own = 0;
    const bool disk_ok = read_rate_sample(t.disk, disk);
    const bool own_ok = read_rate_sample(t.process, own);
    if (!disk_ok || !own_ok) return std::nullopt;
    return disk - own;
}

}  // namespace

ThrottleState::~ThrottleState() { throttle_close_counters(*this); }

void throttle_begin_input(ThrottleState& t, const Options& o) {
    throttle_close_counters(t);
    t.wait_ms = o.wait_adaptive ? 0 : o.wait_msec;
    t.bytes_this_second = 0;
    t.peak_bytes_per_second = 0;
    t.step_down = 0;
    t.bytes_since_line = 0;
    t.line_second = calendar_seconds();
}

void throttle_open_counters(JobContext& ctx) {
    ThrottleState& t = ctx.job.throttle;
    throttle_close_counters(t);
    t.disk = read_rate_open_disk(ctx.job.source.fd, ctx.job.source_drive);
    t.process = read_rate_open_process();
    if (!t.disk || !t.process) throttle_close_counters(t);  // the fallback rule needs neither
}

void throttle_close_counters(ThrottleState& t) {
    read_rate_close(t.disk);
    read_rate_close(t.process);
    t.disk = t.process = nullptr;
}

void throttle_after_read(JobContext& ctx) {
    RunState& run = ctx.run;
    ThrottleState& t = ctx.job.throttle;
    if (run.options.wait_enabled && t.wait_ms != 0) t.sleep(t.wait_ms);
}

void throttle_each_second(JobContext& ctx) {
    RunState& run = ctx.run;
    if (run.options.wait_adaptive) {
        ThrottleState& t = ctx.job.throttle;
        adjust_wait(t, run.options.wait_msec, others_read_rate(t));
    }
    ThrottleState& t = ctx.job.throttle;
    ProgressFigures f = figures_of(ctx);
    const std::int64_t now = ctx.job.last_second;  // the second that just began
    const std::int64_t elapsed = std::max<std::int64_t>(now - t.line_second, 1);
    f.bytes_per_second = t.bytes_since_line / elapsed;
    t.bytes_since_line = 0;
    t.line_second = now;
    if (ctx.stdout_interactive) write_line(progress_text(f, false));
}

void write_final_line(JobContext& ctx) { write_line(progress_text(figures_of(ctx), true)); }

void adjust_wait(ThrottleState& t, int wait_msec, std::optional<double> others_bytes_per_second) {
    if (others_bytes_per_second) {
        if (*others_bytes_per_second > kDiskBusyThreshold)
            t.wait_ms = std::min(t.wait_ms + 1, wait_msec);
        else
            t.wait_ms = std::max(t.wait_ms - 1, 0);
    } else {
        // Without measurements: a second far slower than the best one so far means someone else
        // has the disk; the further below the peak, the longer the wait.
        const long long r = t.bytes_this_second;
        t.peak_bytes_per_second = std::max(t.peak_bytes_per_second, r);
        const long long p = t.peak_bytes_per_second;
        const int m = wait_msec;
        if (p / 28 > r)
            t.wait_ms = m;
        else if (p / 18 > r)
            t.wait_ms = m * 7 / 10;
        else if (p / 8 > r)
            t.wait_ms = m * 4 / 10;
        else if (p / 2 > r)
            t.wait_ms = m / 10;
        else
            t.wait_ms = 0;
        // A wait that has lasted longer than its own value in seconds is stepped down once.
        if (t.wait_ms == 0) {
            t.step_down = 1;
        } else if (t.step_down <= t.wait_ms) {
            ++t.step_down;
        } else {
            if (t.wait_ms >= m)
                t.wait_ms = m * 3 / 10;
            else if (t.wait_ms >= m * 7 / 10)
                t.wait_ms = m * 2 / 10;
            else
                t.wait_ms = 0;
            t.step_down = 1;
        }
    }
    t.bytes_this_second = 0;
}

std::string group_thousands(long long value) {
    const bool negative = value < 0;
    const unsigned long long magnitude =
        negative ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
    const std::string digits = std::to_string(magnitude);
    std::string out;
    const std::size_t n = digits.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0) out.push_back(',');
        out.push_back(digits[i]);
    }
    return negative ? "-" + out : out;
}

std::string progress_text(const ProgressFigures& f, bool final_line) {
    std::string emm;
    if (f.emm_count > 0) emm = format(msg::kProgressEmm, f.emm_count);
    std::string scrambling;
    for (int i = 0; i < kSlotCount; ++i) {
        const int count = f.scrambled[static_cast<std::size_t>(i)];
        if (count > 0) scrambling += slot_label(i) + scrambled_count_text(count);
    }
    char buf[512];
    if (f.file_size < 0) {
        const std::string read = group_thousands(f.bytes_read / 1000000);
        if (final_line) {
            std::snprintf(buf, sizeof buf, msg::kStreamFinalLine, read.c_str(), emm.c_str(), scrambling.c_str());
        } else {
            const long long tenths = std::max(f.bytes_per_second, 0LL) / 100000;
            char rate[48];
            std::snprintf(rate, sizeof rate, msg::kStreamRate, tenths / 10, tenths % 10);
            std::snprintf(buf, sizeof buf, msg::kStreamProgressLine, read.c_str(), rate, emm.c_str(), scrambling.c_str());
        }
        return buf;
    }
    const long long size_mb = f.file_size / 1000000;
    const long long thousandths = f.file_size / 1000;
    long long percent = 0;
    if (final_line)
        percent = 100;  // a finished input is complete, also when it is too small for the formula
    else if (thousandths > 0)
        percent = (f.bytes_read / 10) / thousandths;
    const std::string read = group_thousands(final_line ? size_mb : f.bytes_read / 1000000);
    const std::string size = group_thousands(size_mb);
    std::snprintf(buf, sizeof buf, final_line ? msg::kFinalLine : msg::kProgressLine, read.c_str(), size.c_str(),
                  static_cast<long>(static_cast<std::int32_t>(percent)), emm.c_str(), scrambling.c_str());
    return buf;
}

}  // namespace quill
