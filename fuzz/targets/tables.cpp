// PAT, CAT, PMT, EIT and TOT handling through the routing, with a fresh run state per input:
// two option bytes, then 188-byte packets (the sync byte is forced, everything else is the
// input's). Whatever the tables claim, no list may grow past its array and no read may leave the
// packet.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fixture.h"
#include "hooks.h"
#include "routing.h"
#include "run_state.h"
#include "ts_packet.h"

using namespace quill;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_stdout();
    if (size < 2) return 0;
    auto run = std::make_unique<RunState>();
    fuzz::apply_option_bytes(run->options, data[0], data[1]);
    fuzz::start_slots(*run);
    data += 2;
    size -= 2;
    // Each packet in an exact-size buffer of its own, so that a read past byte 187 is a finding.
    auto unit = std::make_unique<std::uint8_t[]>(kPacketSize);
    for (std::size_t at = 0; at + kPacketSize <= size; at += kPacketSize) {
        std::memcpy(unit.get(), data + at, kPacketSize);
        unit[0] = kSyncByte;
        run->job.current = unit.get();
        const int pid = ts_pid(unit.get());
        if (run->options.rewrite_pts) rebase_time_stamps(*run, pid);
        PacketReport report;
        if (process_packet(*run, pid, report, run->options.keep_eit, run->options.keep_ecm) == -1) break;
        if (run->tables.count > kMaxPrograms) std::abort();
        if (run->cs_detected) {  // what the job does: CS mode from here on
            run->options.cs_mode = 1;
            run->cs_detected = 0;
        }
    }
    for (int k = 0; k < kSlotCount; ++k) finish_slot_segments(*run, k);
    fuzz::close_slots(*run);
    return 0;
}
