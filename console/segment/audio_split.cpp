#include "segment/audio_split.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "output/naming.h"
#include "output/writer.h"
#include "platform/console.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "segment/audio_track.h"
#include "segment/debug_trace.h"
#include "segment/gop_list.h"
#include "segment/programme_split.h"
#include "segment/timing.h"
#include "state/messages.h"
#include "state/run_state.h"
#include "stream/pes.h"
#include "stream/stats.h"
#include "stream/ts_packet.h"

namespace quill {

namespace {

OutputStream& slot_at(RunState& run, int slot) { return run.outputs[static_cast<std::size_t>(slot)]; }

bool has_payload(const std::uint8_t* p) { return (ts_adaptation_field_control(p) & 1) != 0; }

bool carries(const OutputStream& s, int pid) {
    for (int i = 0; i < s.programme.es_count && i < static_cast<int>(s.programme.es_pids.size()); ++i)
        if (s.programme.es_pids[static_cast<std::size_t>(i)] == pid) return true;
    return false;
}

bool is_audio_pid(const OutputStream& s, int pid) {
    for (int a : s.programme.audio_pids)
        if (a == pid) return true;
    return pid == s.programme.first_audio_pid;
}

int video_pid_of(const OutputStream& s) { return s.programme.es_count > 0 ? s.programme.es_pids[0] : -1; }

void trace_clock(const char* format, int number, std::int64_t t) {
    if (!debug_trace_enabled()) return;
    const ClockParts c = clock_parts(time_unset(t) ? 0 : t);
    debug_trace(format, number, c.hours, c.minutes, c.seconds, c.milliseconds, static_cast<long long>(t));
}

void trace_clock_delta(const char* format, int number, std::int64_t t, std::int64_t delta) {
    if (!debug_trace_enabled()) return;
    const ClockParts c = clock_parts(time_unset(t) ? 0 : t);
    debug_trace(format, number, c.hours, c.minutes, c.seconds, c.milliseconds, static_cast<long long>(t),
                static_cast<long long>(delta));
}

// The broken_link flag (ISO/IEC 13818-2 group_of_pictures_header) of the first GOP header of
// `pid` in a stretch held in memory: the payloads of its first packets are searched together, up
// to 940 bytes, and the flag byte is set in the packet that holds it.
bool mark_broken_link_in_stretch(std::vector<std::uint8_t>& stretch, int pid) {
    constexpr std::size_t kCollect = 940;
    std::uint8_t bytes[kCollect];
    std::uint8_t* where[kCollect];  // the packet byte each collected byte came from
    std::size_t fill = 0;
    for (std::size_t at = 0; at + kPacketSize <= stretch.size(); at += kPacketSize) {
        std::uint8_t* p = stretch.data() + at;
        if (ts_pid(p) != pid || !has_payload(p)) continue;
        const int offset = ts_payload_offset(p);
        const std::size_t length = static_cast<std::size_t>(kPacketSize - offset);
        if (fill + length >= kCollect) break;
        for (std::size_t i = 0; i < length; ++i) {
            bytes[fill + i] = p[static_cast<std::size_t>(offset) + i];
            where[fill + i] = p + offset + i;
        }
        fill += length;
        const int flag = find_broken_link_byte(bytes, static_cast<int>(fill));
        if (flag >= 0) {
            *where[flag] |= kBrokenLinkBit;
            return true;
        }
    }
    return false;
}

// A GOP list file of a part (or of any output path of the slot), named as the list of the
// slot's current file would be.
std::string list_path_for(const Options& o, OutputStream& s, std::string path) {
    std::swap(s.file.path, path);
    std::string list = gop_list_path(o, s);
    std::swap(s.file.path, path);
    return list;
}

void append_trailer_to_list(RunState& run, const std::string& list, int packet_count) {
    const int fd = reopen_gop_list(run, list);
    if (fd < 0) return;
    append_gop_trailer(fd, packet_count);
    file_close(fd);
}

// Closes part `i`: its packet count (the file's size in packets) goes into its GOP list's
// trailer.
void finish_part(RunState& run, OutputStream& s, int i) {
    int& fd = s.parts.fd[static_cast<std::size_t>(i)];
    if (fd < 0) return;
    const long long size = file_seek(fd, 0, kSeekEnd);
    const int count = size > 0 ? static_cast<int>(size / kPacketSize) : 0;
    file_close(fd);
    fd = -1;
    if (run.options.gop_list)
        append_trailer_to_list(run, list_path_for(run.options, s, s.parts.path[static_cast<std::size_t>(i)]), count);
}

// Part files other than the current one, in table order up to the first entry that never had a
// file.
template <typename Each>
void for_other_parts(OutputStream& s, Each each) {
    for (int i = 0; i < kAudioModeEntries; ++i) {
        if (i == s.audio.number) continue;
        if (s.parts.fd[static_cast<std::size_t>(i)] < 0) break;
        each(i);
    }
}

void close_parts_as_they_are(OutputStream& s) {
    for (int i = 0; i < kAudioModeEntries; ++i) {
        int& fd = s.parts.fd[static_cast<std::size_t>(i)];
        if (fd >= 0 && i != s.audio.number && fd != s.file.fd && fd != s.file.overlap_after_handle) file_close(fd);
        fd = -1;
        s.parts.path[static_cast<std::size_t>(i)].clear();
    }
}

// The PMT a new part file starts with: the last one the slot wrote, else the last one received.
const std::uint8_t* pmt_for_new_file(const OutputStream& s) {
    if (s.file.last_pmt_written_valid) return s.file.last_pmt_written.data();
    return s.programme.last_pmt_packet[0] == kSyncByte ? s.programme.last_pmt_packet.data() : nullptr;
}

// The split line names the new file; the cancel line names the third mode instead. Two functions,
// so that each format meets exactly its own arguments.
void print_audio_split_line(const OutputStream& s, int from, int to, std::int64_t pts, const char* name) {
    const CutClock clock = cut_point_clock(s, pts);
    const ClockParts c = clock_parts(clock.value);
    console_printf(stdout, msg::kAudioSplit, from, to, clock.label, c.hours, c.minutes, c.seconds, c.milliseconds,
                   name);
}

void print_audio_cancel_line(const OutputStream& s, int from, int to, int third, std::int64_t pts) {
    const CutClock clock = cut_point_clock(s, pts);
    const ClockParts c = clock_parts(clock.value);
    console_printf(stdout, msg::kAudioSplitCancelled, from, to, third, clock.label, c.hours, c.minutes, c.seconds,
                   c.milliseconds);
}

// The stretch from the last GOP start to the end of the current file: taken out of the file (and
// its statistics) and kept in memory. Returns the GOP PTS of the stretch (modes 2 and 3), unset
// without one.
std::int64_t take_stretch(RunState& run, OutputStream& s, std::vector<std::uint8_t>& stretch) {
    const int n = s.file.packets_written;
    const int g = s.gop.last_gop_packet;
    if (g < 0 || n - g <= 0) return kUnsetTime;
    s.gop.broken_link_pid = -1;  // the watch of the old file ends here
    s.gop.broken_link_fill = 0;
    stretch.reserve(static_cast<std::size_t>(n - g) * kPacketSize);
    if (cut_back_file(run, s, s.file.fd, static_cast<long long>(g) * kPacketSize, &stretch) < 0) {
        // The file could not be cut: nothing moves, the file keeps what it has.
        stretch.clear();
        const long long size = file_seek(s.file.fd, 0, kSeekEnd);
        s.file.packets_written = size > 0 ? static_cast<int>(size / kPacketSize) : 0;
        return kUnsetTime;
    }
    s.file.packets_written = g;
    trim_gop_list(s.gop.list_fd, g);
    if (run.options.audio_split < 2 || stretch.empty()) return kUnsetTime;

    const std::int64_t gop_pts = video_pes_pts(stretch.data());
    if (time_unset(gop_pts)) return kUnsetTime;
    if (s.gop.broken_link_pending && mark_broken_link_in_stretch(stretch, ts_pid(stretch.data())))
        s.gop.broken_link_pending = 0;
    if (debug_trace_enabled()) {
        const int number = s.audio.number;
        const std::int64_t video_distance = pts_delta(gop_pts, s.gop.first_video_pts);
        const std::int64_t audio_distance = pts_delta(s.gop.audio_pts_at_gop, s.audio.first_pts);
        s.parts.drift_sum += video_distance - audio_distance;
        trace_clock("%d:GOP先頭,%02d:%02d:%02d:%03d,%lld\r\n", number, s.gop.first_video_pts);
        trace_clock_delta("%d:GOP切替,%02d:%02d:%02d:%03d,%lld,%lld\r\n", number, gop_pts, video_distance);
        trace_clock("%d:音声先頭,%02d:%02d:%02d:%03d,%lld\r\n", number, s.audio.first_pts);
        trace_clock_delta("%d:音声切替,%02d:%02d:%02d:%03d,%lld,%lld\r\n", number, s.gop.audio_pts_at_gop, audio_distance);
        debug_trace("%d:映像音声差分 %lld(%lld)\r\n", number, static_cast<long long>(video_distance - audio_distance),
                    static_cast<long long>(s.parts.drift_sum));
    }
    return gop_pts;
}

// Modes 2 and 3: what of the stretch stays in the old file. Mode 2 keeps everything but the
// video; mode 3 only what comes before the stretch's first audio PES start with a valid header.
// -1 when a write failed.
long long write_back(RunState& run, OutputStream& s, const std::vector<std::uint8_t>& stretch) {
    const int mode = run.options.audio_split;
    const int video = video_pid_of(s);
    for (std::size_t at = 0; at + kPacketSize <= stretch.size(); at += kPacketSize) {
        const std::uint8_t* p = stretch.data() + at;
        const int pid = ts_pid(p);
        if (mode == 3 && pid == s.programme.first_audio_pid) {
            const AdtsMode header = find_adts_mode(p);
            if (header.mode >= 0) {
                if (time_unset(s.audio.first_pts)) s.audio.first_pts = header.pts;
                break;
            }
        }
        if (pid == video) continue;
        if (write_checked(s.file.fd, p, kPacketSize, s.file.path) == -1) return -1;
        if (run.options.collect_stats) stats_count_packet(s, s.file.fd, p);
        ++s.file.packets_written;
    }
    return 0;
}

// The file of the old mode gets what is due: the previous file's trailing overlap ends, the GOP
// lists are written out, everything buffered goes to the file. -1 when a write failed.
long long close_old_mode_file(RunState& run, OutputStream& s, std::int64_t change_pts) {
    const Options& o = run.options;
    if (o.overlap_drop_prior) ring_clear(s.file.overlap_ring);
    s.audio.previous_pts = change_pts;
    if (s.file.overlap_after_handle >= 0) {
        const long long due = write_overlap_due(s);
        if (s.file.overlap_after_handle != s.file.fd) file_close(s.file.overlap_after_handle);
        s.file.overlap_after_handle = -1;
        if (due == -1) return -1;
    }
    finish_overlap_gop_list(s);
    flush_gop_list(s.gop.list_fd, s.gop.list_buffer, s.gop.list_fill);
    s.split.overlap_active = 1;
    if (!o.audio_split_separate) s.gop.broken_link_pending = 1;
    return flush_write_buffer(s) == -1 ? -1 : 0;
}

// The old file stays open in the table of its mode; its GOP list waits for its trailer.
void park_old_mode_file(OutputStream& s) {
    const std::size_t old = static_cast<std::size_t>(s.audio.number);
    s.parts.fd[old] = s.file.fd;
    s.parts.path[old] = s.file.path;
    s.file.fd = -1;
    if (s.gop.list_fd >= 0) file_close(s.gop.list_fd);
    s.gop.list_fd = -1;
    s.gop.list_fill = 0;
}

// Audio of the new file starts when the guard time after the last GOP start has passed, video at
// the next GOP start (mode 1).
void start_waiting_for_gop(OutputStream& s, std::int64_t change_pts) {
    s.file.packets_written = s.file.overlap_after_left = s.gop.prev_left = 0;
    s.gop.next_gop_pending = 1;
    if (time_unset(s.gop.audio_pts_at_gop)) {
        // No GOP started yet: there is nothing to wait for, and no distance to carry into the
        // guard of a later split.
        s.audio.guard_remaining = 0;
        s.audio.guard_passed = 1;
    } else {
        s.audio.guard_remaining += kAudioGuardTicks;
        s.audio.guard_remaining -= pts_delta(s.audio.previous_pts, s.gop.audio_pts_at_gop);
        s.audio.guard_passed = s.audio.guard_remaining <= 0 ? 1 : 0;
    }
    s.gop.last_gop_packet = -1;
    s.parts.wait_trace_due = 1;
    s.parts.wait_last_audio_pts = change_pts;
}

// The new mode's file: its name and the console line; a mode met before continues its own file and
// GOP list (the C variants finish it and start a numbered one); a new file starts with PAT, PMT and
// the latest PCR. -1 when a write failed.
long long open_new_mode_file(RunState& run, int slot, const AdtsMode& found, int number) {
    const Options& o = run.options;
    OutputStream& s = slot_at(run, slot);
    const bool separate = o.audio_split_separate != 0;
    if (separate) ++s.split.split_number;
    s.file.path = slot_file_path(run, slot, s.split.split_number, separate ? 0 : number);
    const PathParts parts = split_path(s.file.path);
    print_audio_split_line(s, s.audio.last_channel_mode, found.mode, found.pts, (parts.base + parts.ext).c_str());

    const std::size_t entry = static_cast<std::size_t>(number);
    if (s.audio.modes[entry] != -1 && o.gop_list && !separate) {
        const int fd = reopen_gop_list(run, gop_list_path(o, s));
        if (fd >= 0) s.gop.list_fd = fd;
    }
    int& part = s.parts.fd[entry];
    if (part >= 0) {
        if (separate) {
            finish_part(run, s, number);
        } else {
            s.file.fd = part;
            const long long size = file_seek(s.file.fd, 0, kSeekEnd);
            s.file.packets_written = size > 0 ? static_cast<int>(size / kPacketSize) : 0;
        }
    }
    if (s.file.fd < 0) {
        const long long started = write_file_start(run, s, nullptr, pmt_for_new_file(s));
        if (separate) {
            part = s.file.fd;
            s.parts.path[entry] = s.file.path;
        }
        if (started == -1) return -1;
    }
    if (s.parts.last_pcr_packet[0] == kSyncByte) {
        if (write_packet(run, s, s.parts.last_pcr_packet.data(), 0) == -1) return -1;
        s.parts.last_pcr_packet.fill(0);
    }
    return 0;
}

// Modes 2 and 3: the GOP taken from the old file goes into the new one (mode 2 without its audio).
long long move_stretch(RunState& run, int slot, std::vector<std::uint8_t>& stretch) {
    const Options& o = run.options;
    OutputStream& s = slot_at(run, slot);
    const int video = video_pid_of(s);
    for (std::size_t at = 0; at + kPacketSize <= stretch.size(); at += kPacketSize) {
        std::uint8_t* p = stretch.data() + at;
        const int pid = ts_pid(p);
        if (o.audio_split == 2 && is_audio_pid(s, pid)) continue;
        if (pid == video) gop_list_packet(run, slot, p, 0);
        if (write_packet(run, s, p, 0) == -1) return -1;
    }
    return 0;
}

// The split at the audio packet carrying a confirmed change to `found.mode`, whose number is
// `number`: the GOP running at the change leaves the old file (and, in modes 2 and 3, part of it
// stays there), the old file is parked, and the output goes on in the new mode's file. -1 when a
// write failed: the split stops there, and so does the input.
long long split_at_change(RunState& run, int slot, const AdtsMode& found, int number) {
    OutputStream& s = slot_at(run, slot);
    const int mode = run.options.audio_split;
    if (close_old_mode_file(run, s, found.pts) == -1) return -1;
    std::vector<std::uint8_t> stretch;
    const std::int64_t gop_pts = take_stretch(run, s, stretch);
    s.audio.first_pts = kUnsetTime;
    s.gop.first_video_pts = gop_pts;
    if (mode >= 2 && !stretch.empty() && write_back(run, s, stretch) == -1) return -1;
    park_old_mode_file(s);
    start_waiting_for_gop(s, found.pts);
    if (open_new_mode_file(run, slot, found, number) == -1) return -1;
    return mode >= 2 ? move_stretch(run, slot, stretch) : 0;
}

}  // namespace

AudioChange audio_split_audio_packet(RunState& run, int slot, const std::uint8_t* packet) {
    const Options& o = run.options;
    OutputStream& s = slot_at(run, slot);
    AudioChange change;
    if (o.audio_split <= 0 || o.gop_only) {
        track_audio_packet(run, slot, packet);
        return change;
    }
    if (!s.programme.in_use || !s.file.enabled || s.file.fd < 0 || !ts_payload_unit_start(packet)) return change;
    const AdtsMode found = find_adts_mode(packet);
    if (found.mode < 0) return change;
    if (s.gop.next_gop_pending) s.parts.wait_last_audio_pts = found.pts;
    if (found.mode == s.audio.last_channel_mode) {
        track_audio_packet(run, slot, packet);
        return change;
    }
    if (debug_trace_enabled()) {
        const ClockParts c = clock_parts(found.pts);
        debug_trace("音声種別が切り替わった %d -> %d(%d,%02d:%02d:%02d:%03d)\r\n", s.audio.last_channel_mode, found.mode,
                    found.sampling_index, c.hours, c.minutes, c.seconds, c.milliseconds);
    }
    const int number = audio_mode_number(s, found.mode);
    if (number < 0 || s.audio.last_channel_mode == -1) {
        track_audio_packet(run, slot, packet);
        return change;
    }
    change.pending = true;
    change.found = found;
    change.number = number;
    return change;
}

long long audio_split_confirm(RunState& run, int slot, const std::uint8_t* packet, const AudioChange& change,
                              int later) {
    OutputStream& s = slot_at(run, slot);
    const AdtsMode& found = change.found;
    if (later != found.mode) {
        print_audio_cancel_line(s, s.audio.last_channel_mode, found.mode, later, found.pts);
        // The clocks move on; the mode stays, so the next header of the new mode is examined again.
        const int last_mode = s.audio.last_channel_mode;
        const int code = s.audio.channel_code;
        const int current = s.audio.number;
        const int previous = s.audio.previous_number;
        const auto modes = s.audio.modes;
        track_audio_packet(run, slot, packet);
        s.audio.last_channel_mode = last_mode;
        s.audio.channel_code = code;
        s.audio.number = current;
        s.audio.previous_number = previous;
        s.audio.modes = modes;
        return 0;
    }
    const long long result = split_at_change(run, slot, found, change.number);
    track_audio_packet(run, slot, packet);
    return result;
}

long long audio_split_hold(RunState& run, int slot, const std::uint8_t* packet) {
    OutputStream& s = slot_at(run, slot);
    if (!s.parts.wait_trace_due) return 0;  // no split under way
    const int pid = ts_pid(packet);
    if (!carries(s, pid)) return 0;
    if (s.gop.next_gop_pending) {
        if (run.options.audio_split != 1) return 0;
        if (!s.audio.guard_passed) return 1;
        return pid == video_pid_of(s) ? 1 : 0;
    }
    s.parts.wait_trace_due = 0;
    if (debug_trace_enabled()) {
        const ClockParts a = clock_parts(time_unset(s.gop.last_gop_pts) ? 0 : s.gop.last_gop_pts);
        debug_trace("GOP開始,%02d:%02d:%02d:%03d,%lld\r\n", a.hours, a.minutes, a.seconds, a.milliseconds,
                    static_cast<long long>(s.gop.last_gop_pts));
        const ClockParts b = clock_parts(time_unset(s.gop.next_gop_pts) ? 0 : s.gop.next_gop_pts);
        debug_trace("GOP終了,%02d:%02d:%02d:%03d,%lld,%lld\r\n", b.hours, b.minutes, b.seconds, b.milliseconds,
                    static_cast<long long>(s.gop.next_gop_pts), static_cast<long long>(pts_delta(s.gop.next_gop_pts, s.gop.last_gop_pts)));
        const ClockParts c = clock_parts(time_unset(s.gop.audio_pts_at_gop) ? 0 : s.gop.audio_pts_at_gop);
        debug_trace("音声開始,%02d:%02d:%02d:%03d,%lld\r\n", c.hours, c.minutes, c.seconds, c.milliseconds,
                    static_cast<long long>(s.gop.audio_pts_at_gop));
        const ClockParts d = clock_parts(time_unset(s.parts.wait_last_audio_pts) ? 0 : s.parts.wait_last_audio_pts);
        debug_trace("音声終了,%02d:%02d:%02d:%03d,%lld,%lld\r\n", d.hours, d.minutes, d.seconds, d.milliseconds,
                    static_cast<long long>(s.parts.wait_last_audio_pts),
                    static_cast<long long>(pts_delta(s.parts.wait_last_audio_pts, s.gop.audio_pts_at_gop)));
        debug_trace("音声差分,%lld\r\n", static_cast<long long>(s.audio.guard_remaining));
    }
    return 0;
}

void close_audio_parts_of_cut(RunState& run, int slot) {
    OutputStream& s = slot_at(run, slot);
    if (run.options.gop_only) return;
    for_other_parts(s, [&](int i) { finish_part(run, s, i); });
}

void restart_audio_parts(RunState& run, int slot) {
    OutputStream& s = slot_at(run, slot);
    close_parts_as_they_are(s);
    s.audio.modes.fill(-1);
    s.audio.number = s.audio.previous_number = 0;
    if (s.audio.last_channel_mode != -1) s.audio.modes[0] = s.audio.last_channel_mode;
    s.gop.next_gop_pending = 0;
    s.gop.last_gop_packet = -1;
    s.parts.wait_trace_due = 0;
}

void forget_audio_mode(RunState& run, int slot) {
    OutputStream& s = slot_at(run, slot);
    s.audio.last_channel_mode = -1;
    s.audio.modes.fill(-1);
}

void finish_audio_parts(RunState& run, int slot) {
    OutputStream& s = slot_at(run, slot);
    if (run.options.audio_split <= 0) return;
    for_other_parts(s, [&](int i) { finish_part(run, s, i); });
    close_parts_as_they_are(s);
}

void drop_audio_parts(RunState& run, int slot) {
    OutputStream& s = slot_at(run, slot);
    close_parts_as_they_are(s);
    s.parts.wait_trace_due = 0;
    s.parts.drift_sum = 0;
    s.parts.wait_last_audio_pts = kUnsetTime;
}

}  // namespace quill
