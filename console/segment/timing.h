// 90 kHz time: PTS and PCR-base reading (ISO/IEC 13818-1), the wrap-aware difference, clock
// texts for messages and GOP lists, the broadcast time of day from the TOT (ARIB STD-B10) and the
// -PTS renumbering of PTS, DTS and PCR from one hour on.
//
// Time stamps are signed 64-bit values whose low 33 bits carry the count in 90 kHz ticks;
// -1 means "not seen yet".
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "state/timing.h"

namespace quill {

struct Options;
struct RunState;
struct OutputStream;

// a - c across the 33-bit wrap: when a is smaller by 2^32 or more a wrap lies between them.
std::int64_t pts_delta(std::int64_t a, std::int64_t c);

struct ClockParts {
    int hours = 0;  // not reduced modulo 24
    int minutes = 0;
    int seconds = 0;
    int milliseconds = 0;
};
ClockParts clock_parts(std::int64_t ticks);
// "%02d:%02d:%02d:%03d" of a non-negative tick count; returns the length written.
int format_clock(char* out, std::size_t size, std::int64_t ticks);

// The clock a cut message shows for time stamp t of an output: "Time" with the broadcast time
// of day once the output's clock offset is known, else "PTS" with t itself.
struct CutClock {
    const char* label;
    std::int64_t value;
};
CutClock cut_point_clock(const OutputStream& slot, std::int64_t t);
// t + clock offset, brought back into range when the sum is negative (t wrapped after the
// offset was fixed).
std::int64_t broadcast_clock(std::int64_t t, std::int64_t clock_offset);


void reset_timing(TimingState& timing);

// -PTS on one 188-byte packet, in place: PTS and DTS of video, audio and caption PES starts and
// every PCR of a PES start or of a PID in the PCR_PID list, renumbered as
// pts_delta(value, time_base) + one hour. The first value met fixes time_base.
void rebase_packet(TimingState& timing, std::uint8_t* packet);
// rebase_packet under -PTS; the copy modes (-NULL, -GOPONLY) keep every byte as read.
void rebase_time_stamps(const Options& options, TimingState& timing, std::uint8_t* packet);

// A TDT/TOT packet: every output still without a clock takes its time of day.
void capture_broadcast_time_of_day(RunState& run, const std::uint8_t* packet);
// A slot whose programme was (re)assigned starts its clocks afresh.
void reset_slot_clocks(OutputStream& slot);

}  // namespace quill
