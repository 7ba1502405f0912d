// The adaptation field, PES/PTS and ADTS readers and the time-of-day reader on single packets:
// each 188-byte piece of the input is one packet (sync byte forced), read by every reader and
// then renumbered by -PTS in place, with one timing state across the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "segment/audio_track.h"
#include "segment/timing.h"
#include "stream/pes.h"
#include "stream/psi.h"
#include "stream/tables.h"
#include "stream/ts_packet.h"

using namespace quill;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TimingState timing;
    reset_timing(timing);
    for (int i = 0; i < kPcrPidEntries && i < static_cast<int>(size); ++i) note_pcr_pid(timing, i, data[i] * 32);
    auto unit = std::make_unique<std::uint8_t[]>(kPacketSize);
    for (std::size_t at = 0; at + kPacketSize <= size; at += kPacketSize) {
        std::memcpy(unit.get(), data + at, kPacketSize);
        unit[0] = kSyncByte;
        const int offset = ts_payload_offset(unit.get());
        if (offset < 4 || offset > kPacketSize) std::abort();
        const AdaptationField af = parse_adaptation_field(unit.get());
        if (af.length > 183) std::abort();
        const AdtsMode mode = find_adts_mode(unit.get());
        if (mode.mode < -1 || mode.mode > 7) std::abort();
        const std::int64_t tod = tot_time_of_day(unit.get());
        char clock[32];
        if (tod >= 0) format_clock(clock, sizeof clock, tod);
        rebase_packet(timing, unit.get());
        if (unit[0] != kSyncByte) std::abort();
    }
    return 0;
}
