// The records the console program keeps for its whole run, owned by the entry and passed by
// reference to every function that needs them.
#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "descrambler.h"
#include "file_io.h"
#include "options.h"
#include "output_stream.h"
#include "tables.h"
#include "throttle.h"
#include "timing.h"

namespace quill {

constexpr std::size_t kReadBufferSize = 8u * 1024u * 1024u;
constexpr int kChunkSize = 8192;
constexpr int kLargeChunkSize = 1 << 20;  // refills when nothing asks for 8 KiB reads

struct JobState {
    int source_fd = -1;
    std::uint8_t* read_buffer = nullptr;  // lent by the entry, kReadBufferSize bytes
    int buffer_fill = 0;
    std::uint8_t* current = nullptr;  // the unit being examined
    std::uint8_t* end = nullptr;      // one past the valid bytes
    int unit_size = 0;
    long long file_size = 0;
    long long total_read = 0;
    FileIdentity source_identity;
    std::string source_drive;
    std::string drive, folder, base, ext;  // name parts of the outputs
    std::string summary_log_path;
    std::string tsselect_log_path;
    int service_mode_seen = MODE_UNDECIDED;
    int oneseg_slots_seen = 0;  // bit 0: 1SEG, bit 1: 1SEG2 taken up in this job
    int first_pass_done = 0;
    std::int64_t last_second = 0;
    ThrottleState throttle;  // -WAIT/-WAIT2 and the counters of the progress display
    // Set after damaged bytes were skipped: the next 0x47 still needs the 8-sync confirmation.
    bool confirm_sync = false;
    bool failed = false;  // the input could not be processed to its end
    // Files opened by the current pass, and those opened by abandoned passes: a file that only an
    // abandoned pass wrote is removed at the end, so no partial leftover stays beside the outputs.
    std::vector<std::string> opened_files;
    std::vector<std::string> abandoned_files;
};

// Every file the current pass creates or opens again is noted (stream files, audio parts, GOP
// lists), once.
inline void note_opened_file(JobState& job, const std::string& path) {
    for (const std::string& known : job.opened_files)
        if (known == path) return;
    job.opened_files.push_back(path);
}

// Files the program only ever reads: the input being processed and the list files named with
// -FLIST. No output, GOP list or log may be one of them, whatever name or link leads there.
struct RunState;
inline bool is_read_only_file(const RunState& run, const FileIdentity& id);

struct RunState {
    Options options;
    std::array<OutputStream, kSlotCount> outputs;
    ProgramTables tables;
    JobState job;
    TimingState timing;  // -PTS time_base and the PCR_PID list of the current input
    Descrambler descrambler;  // bound at start-up under -B25/-B252/-B253, else empty
    int cs_detected = 0;
    int stdout_interactive = 0;
    std::vector<FileIdentity> list_files;
};

inline bool is_read_only_file(const RunState& run, const FileIdentity& id) {
    if (id == run.job.source_identity) return true;
    for (const FileIdentity& list : run.list_files)
        if (id == list) return true;
    return false;
}

}  // namespace quill
