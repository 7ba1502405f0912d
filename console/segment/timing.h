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

namespace quill {

struct RunState;
struct OutputStream;

constexpr std::int64_t kUnsetTime = -1;
constexpr std::int64_t kTicksPerSecond = 90000;
constexpr std::int64_t kOneHourTicks = 324000000;  // where -PTS starts every input
// Added when a difference crosses the 33-bit wrap: 2^33 - 1, so such a difference comes out one
// tick short of the true one. Kept as the established value that clocks and lists are built on.
constexpr std::int64_t kWrapAdd = 0x1FFFFFFFF;

// The PCR_PID list has one entry per programme-table row and, behind them, one for each
// one-segment PMT, so that a one-segment output's clock is renumbered like its pictures.
constexpr int kPcrPidRows = 20;
constexpr int kPcrPidEntries = kPcrPidRows + 2;
constexpr int kPcrPidOneSegEntry = kPcrPidRows;  // + 0 for 0x1FC8, + 1 for 0x1FC9

struct TimingState {
    std::int64_t time_base = kUnsetTime;  // first PTS or PCR base -PTS met in this input
    std::array<int, kPcrPidEntries> pcr_pids{};  // 0 = empty
};

// Unset is tested on both 32-bit halves being all ones, as stored by every writer of -1.
inline bool time_unset(std::int64_t t) {
    const auto u = static_cast<std::uint64_t>(t);
    return (u & 0xFFFFFFFFu) == 0xFFFFFFFFu && (u >> 32) == 0xFFFFFFFFu;
}

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

// Offset of the payload of a TS packet: 4, or behind the adaptation field; 188 when the field
// claims more than the packet holds.
int ts_payload_offset(const std::uint8_t* packet);
// PES header at `pes` (00 00 01 stream_id ...): PTS_DTS_flags of its byte 7.
inline int pes_pts_dts_flags(const std::uint8_t* pes) { return pes[7] >> 6; }
// The 33-bit time stamp of a PES PTS or DTS field (5 bytes: prefix, marker bits).
std::int64_t read_time_stamp_field(const std::uint8_t* field);
// PTS of a PES header beginning with its start code prefix (the field at PES byte 9).
inline std::int64_t read_pes_pts(const std::uint8_t* pes) { return read_time_stamp_field(pes + 9); }
// PCR base (33 bits) of the adaptation field of a packet that carries a PCR (bytes 6 to 10).
std::int64_t read_pcr_base(const std::uint8_t* packet);

// Time of day of a TDT/TOT packet (section at byte 5, JST_time at bytes 8 to 12, hours,
// minutes and seconds in BCD), in ticks since midnight.
std::int64_t tot_time_of_day(const std::uint8_t* packet);

void reset_timing(TimingState& timing);
// Records the PCR_PID a PMT named (0x1FFF, "no PCR", is kept as empty).
void note_pcr_pid(TimingState& timing, int entry, int pcr_pid);

// -PTS on one 188-byte packet, in place: PTS and DTS of video, audio and caption PES starts and
// every PCR of a PES start or of a PID in the PCR_PID list, renumbered as
// pts_delta(value, time_base) + one hour. The first value met fixes time_base.
void rebase_packet(TimingState& timing, std::uint8_t* packet);

// The hooks' work on the run state (see hooks.h).
void rebase_current_packet(RunState& run);
void capture_broadcast_time_of_day(RunState& run, const std::uint8_t* packet);
void reset_slot_clocks(OutputStream& slot);

}  // namespace quill
