// Read throttling (-WAIT fixed, -WAIT2 adaptive) and the progress display of the read loop: a line
// rewritten in place once per second and a final line per input. The front end reads the percentage
// of these lines, so their bytes are fixed. An input without a size (a pipe, which the front end
// never runs) shows the megabytes read and the rate instead.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/system.h"
#include "state/slot.h"

namespace quill {

struct Options;
struct ReadRate;
struct JobContext;

// Bytes per second that others read from the input's disk before -WAIT2 makes way for them.
constexpr double kDiskBusyThreshold = 500000.0;

using SleepFunction = void (*)(int milliseconds);

// Per input file, inside JobState.
struct ThrottleState {
    int wait_ms = 0;                       // slept after each refill read
    long long bytes_this_second = 0;       // read since the last once-per-second step, as read
    long long peak_bytes_per_second = 0;   // fallback rule: best second of this input
    int step_down = 0;                     // fallback rule: seconds the current wait has lasted
    long long bytes_since_line = 0;        // read since the last progress line, as read
    std::int64_t line_second = 0;          // calendar second of the last progress line
    ReadRate* disk = nullptr;              // -WAIT2: the input's disk, everyone's reads
    ReadRate* process = nullptr;           // -WAIT2: this process's reads
    SleepFunction sleep = sleep_ms;        // kept across inputs; tests count the sleeps instead

    ThrottleState() = default;
    ThrottleState(const ThrottleState&) = delete;
    ThrottleState& operator=(const ThrottleState&) = delete;
    ~ThrottleState();
};

// Start values for a new input file.
void throttle_begin_input(ThrottleState& t, const Options& o);
// -WAIT2, every pass start: the read-rate measurements are (re)opened; both or neither.
void throttle_open_counters(JobContext& ctx);
void throttle_close_counters(ThrottleState& t);
// After each refill read of the main loop.
void throttle_after_read(JobContext& ctx);
// Once per calendar second between reads: the -WAIT2 adjustment, then the progress line.
void throttle_each_second(JobContext& ctx);
// At the normal end of an input, whether or not standard output is interactive.
void write_final_line(JobContext& ctx);

// The -WAIT2 decision of one second. `others_bytes_per_second` is what everyone but this process
// read from the disk; without it the fallback rule judges this process's own reading.
void adjust_wait(ThrottleState& t, int wait_msec, std::optional<double> others_bytes_per_second);

struct ProgressFigures {
    long long bytes_read = 0;
    long long file_size = 0;         // -1: not known (a pipe): megabytes and rate instead of a percentage
    long long bytes_per_second = 0;  // inputs without a size: read since the last line, per second
    int emm_count = 0;
    std::array<int, kSlotCount> scrambled{};  // scrambled_count of the output slots
};
// 1234567 -> "1,234,567".
std::string group_thousands(long long value);
// The line without its leading "\r"; the final line ends with "\n", the progress line with a blank.
std::string progress_text(const ProgressFigures& f, bool final_line);

}  // namespace quill
