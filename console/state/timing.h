// 90 kHz time stamps and the timing record of an input. Time stamps are signed 64-bit values whose
// low 33 bits carry the count in 90 kHz ticks; -1 means "not seen yet".
#pragma once
#include <array>
#include <cstdint>

namespace quill {

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

}  // namespace quill
