#include "job/file_job.h"

#include <algorithm>
#include <cstring>

#include "job/descrambler.h"
#include "job/dispatch.h"
#include "job/job_context.h"
#include "job/options.h"
#include "job/source.h"
#include "job/throttle.h"
#include "output/naming.h"
#include "output/result_log.h"
#include "output/writer.h"
#include "platform/console.h"
#include "platform/path.h"
#include "platform/system.h"
#include "segment/audio_split.h"
#include "segment/programme_split.h"
#include "segment/segment_state.h"
#include "segment/timing.h"
#include "state/messages.h"
#include "stream/stats.h"
#include "stream/ts_packet.h"

namespace quill {

namespace {

enum class Next { Restart, Pass, EndOfInput, Finish };

std::string slot_suffix(const Options& o, int slot) {
    if (slot == kSlotHd) {
        if (o.null_only) return o.gop_only ? "" : "_NULL";
        return "_HD";
    }
    if (slot == kSlotOneSeg) return "_1SEG";
    if (slot == kSlotOneSeg2) return "_1SEG2";
    return (o.cs_mode ? "_CS" : "_SD") + std::to_string(slot - 2);
}

int slot_enabled(const Options& o, int slot) {
    if (slot == kSlotHd) return o.null_only ? 1 : o.hd_enabled;
    if (slot == kSlotOneSeg || slot == kSlotOneSeg2) return o.oneseg_enabled;
    return o.cs_mode ? 1 : o.sd_enabled[static_cast<std::size_t>(slot - 3)];
}

// Whether the options let any stream file be written (-GOPONLY writes none).
bool any_output_allowed(const Options& o) {
    if (o.gop_only) return false;
    if (o.null_only || o.cs_mode || o.hd_enabled || o.oneseg_enabled) return true;
    for (int i = 0; i < kSlotCount - kFirstMultiSlot; ++i)
        if (o.sd_enabled[static_cast<std::size_t>(i)]) return true;
    return false;
}

// Every slot named and reset for a (re)started job.
void start_job(JobContext& ctx) {
    RunState& run = ctx.run;
    JobState& job = ctx.job;
    const Options& o = run.options;
    job.last_second = calendar_seconds();
    job.service_mode_seen = MODE_UNDECIDED;
    job.first_pass_done = 0;
    job.oneseg_slots_seen = 0;
    job.total_read = 0;
    reset_tables(run.tables);
    reset_timing(run.timing);
    for (int i = 0; i < kSlotCount; ++i) {
        OutputStream& s = run.outputs[static_cast<std::size_t>(i)];
        s.file.suffix = slot_suffix(o, i);
        s.file.enabled = slot_enabled(o, i);
        s.file.fd = -1;
        s.programme.in_use = (i == kSlotHd && o.null_only) ? 1 : 0;
        ring_resize(s.file.overlap_ring, o.overlap_before_k > 0 ? o.overlap_before_k * 1024 : 0);
        s.programme.service_id = s.programme.pmt_pid = s.programme.pcr_pid = 0;
        s.programme.es_pids.fill(0);
        s.programme.es_count = 0;
        s.programme.ecm_pids.fill(0);
        s.programme.video_pid = s.programme.previous_video_pid = s.programme.first_audio_pid = -1;
        s.programme.audio_pids.fill(-1);
        s.split.split_number = 0;
        s.file.path = slot_file_path(run, i);
        s.file.overlap_after_left = 0;
        reset_slot_segments(run, i);
    }
}

// Files still open from an abandoned pass are closed without flushing.
void close_pass_files(JobContext& ctx) {
    RunState& run = ctx.run;
    for (int i = 0; i < kSlotCount; ++i) {
        OutputStream& s = run.outputs[static_cast<std::size_t>(i)];
        if (s.file.fd >= 0) file_close(s.file.fd);
        if (s.gop.list_fd >= 0) file_close(s.gop.list_fd);
        if (s.gop.prev_list_fd >= 0) file_close(s.gop.prev_list_fd);
        if (s.file.overlap_after_handle >= 0) file_close(s.file.overlap_after_handle);
        s.file.fd = s.gop.list_fd = s.gop.prev_list_fd = s.file.overlap_after_handle = -1;
        s.file.buffer_fill = 0;
        s.file.scrambled_count = 0;
        s.file.packets_written = s.gop.prev_packets = s.gop.prev_left = 0;
        reset_slot_segments(run, i);
        stats_discard(s);
    }
    for (auto& path : run.input.opened_files) run.input.abandoned_files.push_back(std::move(path));
    run.input.opened_files.clear();
}

// Reads up to `count` bytes behind `at`; returns the bytes now valid there (descrambling may
// change the count), 0 at the end of the input or on a read error.
int read_chunk(JobContext& ctx, std::uint8_t* at, int count) {
    if (count <= 0) return 0;
    long long n = source_read(ctx.job.source, at, static_cast<std::size_t>(count));
    if (n <= 0) return 0;
    ctx.job.total_read += n;
    ctx.job.throttle.bytes_this_second += n;
    ctx.job.throttle.bytes_since_line += n;
    return static_cast<int>(n);
}

}  // namespace

std::uint8_t* read_ahead(JobContext& ctx) {
    RunState& run = ctx.run;
    JobState& job = ctx.job;
    std::uint8_t* buffer = job.read_buffer;
    const std::size_t rest = static_cast<std::size_t>(job.end - job.current);
    if (job.current != buffer) std::memmove(buffer, job.current, rest);
    std::size_t fill = rest;
    if (rest < kLookAheadBytes && job.source.fd >= 0) {
        int got = read_chunk(ctx, buffer + rest, static_cast<int>(kLookAheadBytes - rest));
        if (got > 0) {
            if (run.options.descramble_mode > 0)
                got = decode_chunk(ctx.descrambler, buffer + rest, got, kReadBufferSize - rest);
            fill += static_cast<std::size_t>(got);
        }
    }
    job.current = buffer;
    job.end = buffer + fill;
    job.buffer_fill = static_cast<int>(fill);
    return buffer;
}

namespace {

// Bytes asked for per refill. Waiting (-WAIT, -WAIT2) acts per 8 KiB read and the descrambler
// takes 8 KiB chunks; otherwise larger reads cost far fewer system calls and change no output byte:
// units are walked the same way whatever the read size. The first read of a pass, which decides
// the unit size, is always 8 KiB.
int refill_size(const Options& o) {
    return (o.wait_enabled || o.descramble_mode > 0) ? kChunkSize : kLargeChunkSize;
}

// Folders of the system's device and process files, where no output can be written.
bool is_system_pipe_folder(const std::string& folder) {
    return folder.rfind("/dev/", 0) == 0 || folder.rfind("/proc/", 0) == 0;
}

// A new pass over the input. Returns false when no unit size was found (or the spool failed).
bool start_pass(JobContext& ctx) {
    RunState& run = ctx.run;
    JobState& job = ctx.job;
    if (run.options.descramble_mode >= 2) descrambler_reset(ctx.descrambler);
    close_pass_files(ctx);
    job.total_read = 0;
    job.file_size = source_rewind(job.source);
    job.buffer_fill = read_chunk(ctx, job.read_buffer, kChunkSize);
    if (job.source.spool_failed) return false;  // said at the end of the job
    job.confirm_sync = false;
    run.routes.stale = true;
    job.unit_size = select_unit_size(job.read_buffer, job.read_buffer + job.buffer_fill);
    if (job.unit_size < kMinUnitSize) {
        console_write(stdout, msg::kUnitSizeFailed);
        return false;
    }
    if (run.options.descramble_mode > 0)
        job.buffer_fill = decode_chunk(ctx.descrambler, job.read_buffer, job.buffer_fill, kReadBufferSize);
    if (run.options.wait_adaptive) throttle_open_counters(ctx);
    return true;
}

// Hands the current packet to the routing; false after a failed write.
bool handle_packet(JobContext& ctx) {
    RunState& run = ctx.run;
    JobState& job = ctx.job;
    const int pid = ts_pid(job.current);
    if (run.options.rewrite_pts) rebase_time_stamps(run.options, run.timing, job.current);
    PacketReport report;
    const long long r = process_packet(ctx, pid, report);
    job.service_mode_seen = report.service_mode;
    return r != -1;
}

// The read loop over the units of the file.
Next main_loop(JobContext& ctx) {
    RunState& run = ctx.run;
    JobState& job = ctx.job;
    const int unit = job.unit_size;
    for (;;) {
        job.current = job.read_buffer;
        job.end = job.read_buffer + job.buffer_fill;
        while (job.current + unit <= job.end) {
            if (*job.current != kSyncByte || job.confirm_sync) {
                const std::uint8_t* p = find_sync(job.current, job.end, unit);
                if (!p) {
                    // Every position up to here has been ruled out: keep only the last stretch that
                    // may still start a synchronised run, so that the refill always reads more.
                    std::uint8_t* keep_from = job.end - 8 * unit;
                    if (keep_from > job.current) job.current = keep_from;
                    job.confirm_sync = true;
                    break;
                }
                job.confirm_sync = false;
                job.current = const_cast<std::uint8_t*>(p);
                if (job.current + unit > job.end) break;
            }
            if (ctx.job.cs_detected) {
                run.options.cs_mode = 1;
                ctx.job.cs_detected = 0;
                return Next::Restart;
            }
            // A one-segment service taken up for the first time in this job: the pass starts
            // again so that its file holds it from the start of the input.
            const int oneseg_now = (run.outputs[kSlotOneSeg].programme.in_use ? 1 : 0) | (run.outputs[kSlotOneSeg2].programme.in_use ? 2 : 0);
            if ((oneseg_now & ~job.oneseg_slots_seen) != 0) {
                job.oneseg_slots_seen |= oneseg_now;
                if (!job.first_pass_done) {
                    if (job.service_mode_seen != MODE_UNDECIDED) {
                        // The same packet ended the look-ahead: one restart serves both, and the
                        // assignment it made stays.
                        job.first_pass_done = 1;
                    } else {
                        for (int i = kSlotHd; i < kSlotCount; ++i)
                            if (i != kSlotOneSeg && i != kSlotOneSeg2) run.outputs[static_cast<std::size_t>(i)].programme.in_use = 0;
                    }
                }
                return Next::Pass;
            }
            if (!job.first_pass_done && job.service_mode_seen != MODE_UNDECIDED) {
                job.first_pass_done = 1;
                return Next::Pass;
            }
            if (!handle_packet(ctx)) return Next::Finish;
            job.current = ctx.job.current + unit;
        }
        // Refill behind the leftover.
        const int leftover = static_cast<int>(job.end - job.current);
        std::memmove(job.read_buffer, job.current, static_cast<std::size_t>(leftover));
        const int got = read_chunk(ctx, job.read_buffer + leftover, refill_size(run.options) - leftover);
        job.buffer_fill = leftover + got;
        if (got < 1) return Next::EndOfInput;
        if (run.options.descramble_mode > 0)
            job.buffer_fill = leftover + decode_chunk(ctx.descrambler, job.read_buffer + leftover, got,
                                                      kReadBufferSize - static_cast<std::size_t>(leftover));
        throttle_after_read(ctx);
        const std::int64_t now = calendar_seconds();
        if (now != job.last_second) {
            job.last_second = now;
            throttle_each_second(ctx);
        }
    }
}

// The last, short stretch of the input.
bool end_of_input(JobContext& ctx) {
    JobState& job = ctx.job;
    job.current = job.read_buffer;
    job.end = job.read_buffer + job.buffer_fill;
    while (job.current + kPacketSize <= job.end) {
        if (*job.current != kSyncByte || job.confirm_sync) {
            const std::uint8_t* p = find_sync_tail(job.current, job.end, job.unit_size);
            if (!p) break;
            job.confirm_sync = false;
            job.current = const_cast<std::uint8_t*>(p);
            if (job.current + kPacketSize > job.end) break;
        }
        if (!handle_packet(ctx)) return false;
        job.current = ctx.job.current + job.unit_size;
    }
    return true;
}

// Every output flushed, cut back where asked, closed; leftovers of abandoned passes removed.
void finish_job(JobContext& ctx) {
    RunState& run = ctx.run;
    JobState& job = ctx.job;
    throttle_close_counters(job.throttle);
    for (int i = 0; i < kSlotCount; ++i) {
        OutputStream& s = run.outputs[static_cast<std::size_t>(i)];
        // The input ends: the previous file takes no more.
        if (write_overlap_after_part(s) == -1) job.failed = true;
        if (s.file.overlap_after_handle >= 0) {
            file_close(s.file.overlap_after_handle);
            s.file.overlap_after_handle = -1;
        }
        if (s.file.fd >= 0) {
            if (write_out_buffer(s) == -1) job.failed = true;
            release_write_buffer(s);
            cut_back_at_finish(run, s);
            file_close(s.file.fd);
            s.file.fd = -1;
        }
        finish_slot_segments(run, i);
        if (run.options.collect_stats) report_slot_statistics(run, s);
    }
    for (const auto& path : run.input.abandoned_files)
        if (std::find(run.input.opened_files.begin(), run.input.opened_files.end(), path) == run.input.opened_files.end())
            file_remove(path.c_str());
    run.input.abandoned_files.clear();
    run.input.opened_files.clear();
}

}  // namespace

bool run_file_job(JobContext& ctx, const InputEntry& input) {
    RunState& run = ctx.run;
    JobState& job = ctx.job;
    const Options& o = run.options;
    const std::string& source_path = input.path;
    const bool standard_input = input.standard_input || source_path == kStandardInputPath;
    job.failed = false;
    int fd = -1;
    if (!input.too_long) fd = standard_input ? file_open_standard_input() : file_open_read(source_path.c_str());
    if (fd < 0) {
        console_printf(stdout, msg::kOpenSourceFailed, source_path.c_str());
        return false;
    }
    run.input.source_identity = file_identity(fd);
    run.input.spool_identity = FileIdentity{};
    throttle_begin_input(job.throttle, o);

    PathParts parts = split_path(source_path);
    job.source_drive = parts.drive;
    console_printf(stdout, msg::kSourceName, (parts.base + parts.ext).c_str());
    // The standard input's path names no folder the outputs belong in (never /dev): they are named
    // as those of a recording stdin.ts in the current folder.
    // Neither does a pipe the system hands out as a device path (/dev/fd/63 of a process
    // substitution): its outputs are named as those of a recording 63.ts in the current folder.
    if (standard_input)
        parts = PathParts{"", "", kStandardInputName, kStandardInputExt};
    else if (is_system_pipe_folder(parts.folder) && file_is_pipe(fd))
        parts = PathParts{"", "", parts.base, parts.ext.empty() ? kStandardInputExt : parts.ext};
    if (!o.output_folder.empty()) {
        PathParts out = split_path(o.output_folder);
        parts.drive = out.drive;
        parts.folder = out.folder;
    }
    run.input.drive = parts.drive;
    run.input.folder = parts.folder;
    run.input.base = parts.base;
    run.input.ext = parts.ext;
    // A pipe's spool goes where the outputs go.
    if (!source_begin(job.source, fd, run.input.drive, run.input.folder)) {
        console_printf(stdout, msg::kSpoolOpenFailed, job.source.spool_path.c_str());
        source_end(job.source);
        return false;
    }
    if (job.source.spool_fd >= 0) run.input.spool_identity = file_identity(job.source.spool_fd);
    if (o.descramble_mode == 1) descrambler_preroll(ctx.descrambler, job.source, job.read_buffer);
    run.input.summary_log_path = build_output_name(o, run.input.drive, run.input.folder, run.input.base, "", ".log");
    run.input.tsselect_log_path = build_output_name(o, run.input.drive, run.input.folder, run.input.base, "_tsselect", ".log");
    if (o.log_file) {
        start_log(run, run.input.summary_log_path);
        start_log(run, run.input.tsselect_log_path);
    }

    Next next = Next::Restart;
    while (next == Next::Restart || next == Next::Pass) {
        if (next == Next::Restart) {
            // The abandoned pass's files are closed before the slots start afresh, or their
            // handles would be lost (and, on Windows, the files could not be removed).
            close_pass_files(ctx);
            start_job(ctx);
        }
        if (!start_pass(ctx)) {
            job.failed = true;
            next = Next::Finish;
            break;
        }
        next = main_loop(ctx);
    }
    if (job.source.spool_failed) {
        // The bytes read so far can no longer be read again: the input cannot be split to its end.
        console_printf(stdout, msg::kSpoolFailed, job.source.spool_path.c_str());
        job.failed = true;
    } else if (next == Next::EndOfInput) {
        if (!end_of_input(ctx))
            job.failed = true;
        else
            write_final_line(ctx);
    } else {
        job.failed = true;  // a failed write
    }
    // Files of the final pass: none at all, with outputs allowed, gets a line of its own.
    const bool nothing_written = !job.failed && run.input.opened_files.empty() && any_output_allowed(run.options);
    finish_job(ctx);
    if (nothing_written) console_write(stdout, msg::kNoOutputWritten);
    source_end(job.source);
    run.input.spool_identity = FileIdentity{};
    return !job.failed;
}

}  // namespace quill
