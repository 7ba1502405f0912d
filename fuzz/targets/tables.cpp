// PAT, CAT, PMT, EIT and TOT handling through the job's dispatcher, with a fresh run state per input:
// two option bytes, then 188-byte packets (the sync byte is forced, everything else is the
// input's). Whatever the tables claim, no list may grow past its array and no read may leave the
// packet.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fixture.h"
#include "job/dispatch.h"
#include "job/job_context.h"
#include "segment/segment_state.h"
#include "segment/timing.h"
#include "stream/ts_packet.h"

using namespace quill;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_stdout();
    if (size < 2) return 0;
    auto ctx = std::make_unique<JobContext>();
    RunState* run = &ctx->run;
    fuzz::apply_option_bytes(run->options, data[0], data[1]);
    fuzz::start_slots(*run);
    data += 2;
    size -= 2;
    // Each packet in an exact-size buffer of its own, so that a read past byte 187 is a finding.
    // An audio split's read-ahead moves it to the start of that buffer and reads no more (no
    // source is open).
    auto unit = std::make_unique<std::uint8_t[]>(kPacketSize);
    ctx->job.read_buffer = unit.get();
    ctx->job.unit_size = kPacketSize;
    for (std::size_t at = 0; at + kPacketSize <= size; at += kPacketSize) {
        std::memcpy(unit.get(), data + at, kPacketSize);
        unit[0] = kSyncByte;
        ctx->job.current = unit.get();
        ctx->job.end = unit.get() + kPacketSize;
        const int pid = ts_pid(unit.get());
        rebase_time_stamps(run->options, run->timing, unit.get());
        PacketReport report;
        if (process_packet(*ctx, pid, report) == -1) break;
        if (run->tables.count > kMaxPrograms) std::abort();
        if (ctx->job.cs_detected) {  // what the job does: CS mode from here on
            run->options.cs_mode = 1;
            ctx->job.cs_detected = 0;
        }
    }
    for (int k = 0; k < kSlotCount; ++k) finish_slot_segments(*run, k);
    fuzz::close_slots(*run);
    return 0;
}
