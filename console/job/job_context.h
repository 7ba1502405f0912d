// The console program's whole state: the run state every layer shares, and what only the job
// touches (the read loop of the current input, the descrambler). One per process, owned by the
// entry and passed by reference.
#pragma once
#include <cstdint>
#include <string>

#include "job/descrambler.h"
#include "job/source.h"
#include "job/throttle.h"
#include "state/run_state.h"

namespace quill {

constexpr std::size_t kReadBufferSize = 8u * 1024u * 1024u;
constexpr int kChunkSize = 8192;
constexpr int kLargeChunkSize = 1 << 20;  // refills when nothing asks for 8 KiB reads

// The read loop of the current input.
struct JobState {
    Source source;
    std::uint8_t* read_buffer = nullptr;  // lent by the entry, kReadBufferSize bytes
    int buffer_fill = 0;
    std::uint8_t* current = nullptr;  // the unit being examined
    std::uint8_t* end = nullptr;      // one past the valid bytes
    int unit_size = 0;
    long long file_size = 0;  // -1: not known (a pipe)
    long long total_read = 0;
    std::string source_drive;
    int service_mode_seen = MODE_UNDECIDED;
    int oneseg_slots_seen = 0;  // bit 0: 1SEG, bit 1: 1SEG2 taken up in this job
    int first_pass_done = 0;
    int cs_detected = 0;        // a PAT named a CS transport stream: the job restarts in CS mode
    std::int64_t last_second = 0;
    ThrottleState throttle;  // -WAIT/-WAIT2 and the counters of the progress display
    // Set after damaged bytes were skipped: the next 0x47 still needs the 8-sync confirmation.
    bool confirm_sync = false;
    bool failed = false;  // the input could not be processed to its end
};

struct JobContext {
    RunState run;
    JobState job;
    Descrambler descrambler;  // bound at start-up under -B25/-B252/-B253, else empty
    int stdout_interactive = 0;
};

}  // namespace quill
