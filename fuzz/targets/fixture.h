// Shared by the packet-level targets: a fresh run state per input whose output slots write into
// one scratch folder, and the option set taken from the first bytes of the input.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "output/writer.h"
#include "platform/file_io.h"
#include "state/run_state.h"

namespace fuzz {

// A scratch folder for the whole fuzzing process; outputs of one input replace those of the last.
inline const std::string& scratch_folder() {
    static const std::string folder = [] {
        char templ[] = "/tmp/quill-fuzz-XXXXXX";
        const char* made = mkdtemp(templ);
        if (!made) std::abort();
        return std::string(made);
    }();
    return folder;
}

// The console lines of the program are not what is examined; keep them off the fuzzer's output.
inline void silence_stdout() {
    static bool done = false;
    if (!done && std::freopen("/dev/null", "w", stdout)) done = true;
}

// Options from two flag bytes: tables kept, splits, GOP lists, time stamps, statistics.
inline void apply_option_bytes(quill::Options& o, std::uint8_t a, std::uint8_t b) {
    o.keep_eit = a & 1;
    o.keep_ecm = (a >> 1) & 1;
    o.keep_emm = (a >> 2) & 1;
    o.cs_mode = (a >> 3) & 1;
    o.null_only = (a >> 4) & 1 && !(b & 0x80);
    o.gop_list = (a >> 5) & 1;
    o.gop_channel = o.gop_list && ((a >> 6) & 1);
    o.gop_time = o.gop_list && ((a >> 7) & 1);
    o.split_on_programme = b & 1;
    o.split_on_pmt = (b >> 1) & 3;
    o.audio_split = (b >> 3) & 3;
    o.rewrite_pts = (b >> 5) & 1;
    o.collect_stats = (b >> 6) & 1;
    if (b & 0x80) {  // a -PID list and a -CS list
        o.keep_pids = {0x0111, 0x0012, 0x1FFF};
        o.keep_pid_count = 3;
        o.keep_pid_min = 0x0012;
        o.keep_pid_max = 0x1FFF;
        o.keep_pids_active = 1;
        o.cs_services = {211, 213};
        o.cs_service_count = 2;
    }
    o.buffer_mb = 1;
}

// Slots named and enabled as the file job does it for the options.
inline void start_slots(quill::RunState& run) {
    const quill::Options& o = run.options;
    for (int k = 0; k < quill::kSlotCount; ++k) {
        quill::OutputStream& s = run.outputs[static_cast<std::size_t>(k)];
        s.file.suffix = "_" + std::to_string(k);
        s.file.path = scratch_folder() + "/out" + s.file.suffix + ".ts";
        s.programme.in_use = (k == quill::kSlotHd && o.null_only) ? 1 : 0;
        s.file.enabled = 1;
        quill::ring_resize(s.file.overlap_ring, 0);
    }
}

// Every file the run state still holds is closed, as the end of a job does.
inline void close_slots(quill::RunState& run) {
    for (auto& s : run.outputs) {
        for (int* fd : {&s.file.fd, &s.gop.list_fd, &s.gop.prev_list_fd, &s.file.overlap_after_handle}) {
            if (*fd >= 0) quill::file_close(*fd);
            *fd = -1;
        }
    }
}

}  // namespace fuzz
