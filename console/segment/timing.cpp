#include "segment/timing.h"

#include <cstdio>

#include "state/run_state.h"
#include "stream/pes.h"
#include "stream/psi.h"
#include "stream/ts_packet.h"

namespace quill {

namespace {

constexpr std::int64_t kMask33 = 0x1FFFFFFFF;
constexpr std::int64_t kWrapDistance = std::int64_t{1} << 32;

// Stream ids whose PES headers carry renumbered time stamps: video, audio and private_stream_1
// (ARIB captions and superimposed text, which must stay in step with the pictures).
bool rebased_stream_id(int stream_id) {
    return (stream_id & 0xF0) == 0xE0 || (stream_id & 0xF0) == 0xC0 || stream_id == 0xBD;
}

bool has_adaptation_field(const std::uint8_t* p) { return (ts_adaptation_field_control(p) & 2) != 0; }
int adaptation_field_length(const std::uint8_t* p) { return p[4]; }

// PCR_flag set in an adaptation field long enough for the 6 PCR bytes behind its flags byte.
bool carries_pcr(const std::uint8_t* p) {
    if (!has_adaptation_field(p)) return false;
    const int length = adaptation_field_length(p);
    return length >= 7 && length <= 183 && (p[5 /*flags*/] & 0x10) != 0;
}

// A 33-bit time stamp written back into a PES PTS/DTS field: the 4-bit prefix and the three
// marker bits stay as they were.
void write_time_stamp_field(std::uint8_t* f, std::int64_t value) {
    const auto v = static_cast<std::uint64_t>(value) & static_cast<std::uint64_t>(kMask33);
    f[0] = static_cast<std::uint8_t>((f[0] & 0xF1) | ((v >> 29) & 0x0E));
    f[1] = static_cast<std::uint8_t>(v >> 22);
    f[2] = static_cast<std::uint8_t>((f[2] & 0x01) | ((v >> 14) & 0xFE));
    f[3] = static_cast<std::uint8_t>(v >> 7);
    f[4] = static_cast<std::uint8_t>((f[4] & 0x01) | ((v << 1) & 0xFE));
}

// The PCR base written back; the reserved bits and the 9-bit extension stay.
void write_pcr_base(std::uint8_t* p, std::int64_t value) {
    const auto v = static_cast<std::uint64_t>(value) & static_cast<std::uint64_t>(kMask33);
    p[6] = static_cast<std::uint8_t>(v >> 25);
    p[7] = static_cast<std::uint8_t>(v >> 17);
    p[8] = static_cast<std::uint8_t>(v >> 9);
    p[9] = static_cast<std::uint8_t>(v >> 1);
    p[10] = static_cast<std::uint8_t>((p[10] & 0x7F) | ((v & 1) << 7));
}

std::int64_t rebased(TimingState& timing, std::int64_t value) {
    if (time_unset(timing.time_base)) timing.time_base = value;
    return pts_delta(value, timing.time_base) + kOneHourTicks;
}

void rebase_pcr(TimingState& timing, std::uint8_t* p) {
    write_pcr_base(p, rebased(timing, read_pcr_base(p)));
}

bool listed_pcr_pid(const TimingState& timing, int pid) {
    for (int v : timing.pcr_pids)
        if (v == pid) return true;
    return false;
}

}  // namespace

std::int64_t pts_delta(std::int64_t a, std::int64_t c) {
    if (a >= c) return a - c;
    if (c - a >= kWrapDistance) return a - c + kWrapAdd;
    return a - c;
}

ClockParts clock_parts(std::int64_t ticks) {
    ClockParts c;
    const std::int64_t seconds = ticks / kTicksPerSecond;
    c.hours = static_cast<int>(seconds / 3600);
    c.minutes = static_cast<int>((seconds / 60) % 60);
    c.seconds = static_cast<int>(seconds % 60);
    c.milliseconds = static_cast<int>((ticks % kTicksPerSecond) / 90);
    return c;
}

int format_clock(char* out, std::size_t size, std::int64_t ticks) {
    const ClockParts c = clock_parts(ticks);
    return std::snprintf(out, size, "%02d:%02d:%02d:%03d", c.hours, c.minutes, c.seconds, c.milliseconds);
}

std::int64_t broadcast_clock(std::int64_t t, std::int64_t clock_offset) {
    std::int64_t value = t + clock_offset;
    if (value < 0) value += kWrapAdd;
    return value;
}

CutClock cut_point_clock(const OutputStream& slot, std::int64_t t) {
    if (time_unset(slot.clocks.clock_offset)) return {"PTS", t};
    return {"Time", broadcast_clock(t, slot.clocks.clock_offset)};
}

void reset_timing(TimingState& timing) { timing = TimingState{}; }

void rebase_packet(TimingState& timing, std::uint8_t* p) {
    if (ts_payload_unit_start(p)) {
        const int pes = ts_payload_offset(p);
        if (pes + 4 <= kPacketSize && p[pes] == 0 && p[pes + 1] == 0 && p[pes + 2] == 1 &&
            rebased_stream_id(p[pes + 3])) {
            // The PES case: its PTS and DTS, then a PCR in the same packet. Fields that would lie
            // past the end of the packet are left alone.
            const int flags = pes + 8 <= kPacketSize ? pes_pts_dts_flags(p + pes) : 0;
            if (flags != 0 && pes + 14 <= kPacketSize) {
                std::uint8_t* pts = p + pes + 9;
                write_time_stamp_field(pts, rebased(timing, read_time_stamp_field(pts)));
                // A DTS keeps its distance to the PTS, or decoders would see them hours apart.
                if (flags == 3 && pes + 19 <= kPacketSize) {
                    std::uint8_t* dts = p + pes + 14;
                    write_time_stamp_field(dts, rebased(timing, read_time_stamp_field(dts)));
                }
            }
            if (carries_pcr(p)) rebase_pcr(timing, p);
            return;
        }
    }
    // Clock-only case: any PCR on a PID some PMT names as its PCR_PID.
    const int pid = ts_pid(p);
    if (pid != 0 && carries_pcr(p) && listed_pcr_pid(timing, pid)) rebase_pcr(timing, p);
}

void rebase_time_stamps(const Options& o, TimingState& timing, std::uint8_t* packet) {
    if (!o.rewrite_pts || o.null_only || o.gop_only) return;
    rebase_packet(timing, packet);
}

void capture_broadcast_time_of_day(RunState& run, const std::uint8_t* packet) {
    const std::int64_t ticks = tot_time_of_day(packet);
    // Every output still without a clock takes it, also one assigned after a mode change.
    for (OutputStream& s : run.outputs)
        if (time_unset(s.clocks.broadcast_time) && time_unset(s.clocks.clock_offset)) s.clocks.broadcast_time = ticks;
}

void reset_slot_clocks(OutputStream& slot) {
    slot.clocks.broadcast_time = kUnsetTime;
    slot.clocks.clock_offset = kUnsetTime;
}

}  // namespace quill
