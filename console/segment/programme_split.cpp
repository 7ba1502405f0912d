#include "segment/programme_split.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "output/naming.h"
#include "output/writer.h"
#include "platform/console.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "segment/audio_split.h"
#include "segment/audio_track.h"
#include "segment/gop_list.h"
#include "segment/timing.h"
#include "state/messages.h"
#include "state/run_state.h"
#include "stream/stats.h"
#include "stream/psi.h"
#include "stream/tables.h"
#include "stream/ts_packet.h"

namespace quill {

namespace {

OutputStream& slot_at(RunState& run, int slot) { return run.outputs[static_cast<std::size_t>(slot)]; }

bool is_oneseg_slot(int slot) { return slot == kSlotOneSeg || slot == kSlotOneSeg2; }

// A PMT section start of `pmt_pid`: what a new file needs to learn its streams.
bool is_pmt_start(const std::uint8_t* p, int pmt_pid) {
    return p[0] == kSyncByte && ts_pid(p) == pmt_pid && section_starts_at_five(p) && section_table_id(p) == kPmtTableId;
}

// The trailing overlap the previous file takes; cleared when that file is closed early.
void close_overlap_after(OutputStream& s) {
    if (s.file.overlap_after_handle >= 0) file_close(s.file.overlap_after_handle);
    s.file.overlap_after_handle = -1;
    s.file.overlap_after_left = 0;
    s.gop.prev_left = 0;
}

// The fields of the finished file that the new one must not inherit: its clocks and GOP and audio
// positions. The new file's first GOP is marked as following a cut.
void reset_file_state(RunState& run, int slot) {
    OutputStream& s = slot_at(run, slot);
    restart_audio_parts(run, slot);
    s.gop.last_video_pts = s.gop.first_video_pts = kUnsetTime;
    s.gop.last_gop_packet = -1;
    s.gop.last_gop_pts = s.gop.audio_pts_at_gop = s.gop.next_gop_pts = kUnsetTime;
    s.gop.next_gop_pending = 0;
    s.audio.current_pts = s.audio.first_pts = s.audio.previous_pts = kUnsetTime;
    s.gop.broken_link_pending = 1;
    s.gop.broken_link_pid = -1;
    s.gop.broken_link_fill = 0;
}

void print_split_line(RunState& run, int slot, SplitKind kind) {
    const OutputStream& s = slot_at(run, slot);
    if (time_unset(s.gop.last_video_pts)) return;
    const CutClock clock = cut_point_clock(s, s.gop.last_video_pts);
    const ClockParts c = clock_parts(clock.value);
    const PathParts parts = split_path(s.file.path);
    const std::string name = parts.base + parts.ext;
    console_printf(stdout, kind == SplitKind::Programme ? msg::kProgrammeSplit : msg::kPmtSplit, clock.label,
                   c.hours, c.minutes, c.seconds, c.milliseconds, name.c_str());
}

long long write_replayed(RunState& run, OutputStream& s, const std::uint8_t* packet) {
    return write_packet(run, s, packet, 0) == -1 ? -1 : 0;
}

// The first packet of the ring that `match` accepts, or null.
template <typename Match>
const std::uint8_t* first_in_ring(const PacketRing& ring, Match match) {
    for (int i = 0; i < ring.count; ++i)
        if (match(ring_at(ring, i))) return ring_at(ring, i);
    return nullptr;
}

// A new file starts with a PAT and the PMT of what follows, so that it can be read on its own.
// Before a replay these are the ring's own first PAT and PMT, so the copies are exact repetitions
// of packets that follow (no continuity break); otherwise a PAT built now and the last PMT the
// slot wrote, whose successors continue its counter.
long long start_new_file(RunState& run, int slot, bool replaying, bool pmt_follows) {
    OutputStream& s = slot_at(run, slot);
    const std::uint8_t* pat = nullptr;
    const std::uint8_t* pmt = nullptr;
    if (replaying) {
        pat = first_in_ring(s.file.overlap_ring, [](const std::uint8_t* p) { return ts_pid(p) == 0; });
        pmt = first_in_ring(s.file.overlap_ring, [&](const std::uint8_t* p) { return is_pmt_start(p, s.programme.pmt_pid); });
    }
    // Without a replay a changed PMT is routed next; the replayed packets belong to the last one written.
    if (!pmt && (replaying || !pmt_follows) && s.file.last_pmt_written_valid) pmt = s.file.last_pmt_written.data();
    return write_file_start(run, s, pat, pmt);
}

}  // namespace

long long replay_overlap_ring(RunState& run, int slot, int video_pid, int audio_pid, bool hooks) {
    OutputStream& s = slot_at(run, slot);
    const Options& o = run.options;
    const bool video_hook = hooks && s.file.enabled && s.programme.es_count > 0 && video_pid >= 0;
    const bool audio_hook = hooks && (o.audio_split > 0 || o.gop_channel || o.gop_time) && audio_pid >= 0;
    std::uint8_t copy[kPacketSize];
    for (int i = 0; i < s.file.overlap_ring.count; ++i) {
        std::memcpy(copy, ring_at(s.file.overlap_ring, i), kPacketSize);
        const int pid = ts_pid(copy);
        if (video_hook && pid == video_pid) gop_list_packet(run, slot, copy, 0);
        if (audio_hook && pid == audio_pid) track_audio_packet(run, slot, copy);
        if (write_replayed(run, s, copy) == -1) return -1;
    }
    return 0;
}

int trim_gop_list(int list_fd, long long packet_count) {
    if (list_fd < 0) return 0;
    const long long size = file_seek(list_fd, 0, kSeekEnd);
    if (size <= 0) return size < 0 ? -1 : 0;
    std::vector<char> text(static_cast<std::size_t>(size));
    if (file_seek(list_fd, 0, kSeekSet) != 0) return -1;
    long long got = 0;
    while (got < size) {
        const long long n = file_read(list_fd, text.data() + got, static_cast<std::size_t>(size - got));
        if (n <= 0) break;
        got += n;
    }
    if (got != size) {
        file_seek(list_fd, 0, kSeekEnd);
        return -1;
    }
    // Lines are in file order; the first one at or past the new end ends the list.
    long long cut = size;
    long long line_start = 0;
    int line = 0;
    while (line_start < size) {
        const char* begin = text.data() + line_start;
        const char* end = static_cast<const char*>(std::memchr(begin, '\n', static_cast<std::size_t>(size - line_start)));
        const long long next = end ? (end - text.data()) + 1 : size;
        if (line >= 2) {  // "TS_CUT2" and the empty line stay
            const char* field = begin;
            for (int commas = 0; commas < 4 && field; ++commas) {
                field = static_cast<const char*>(std::memchr(field, ',', static_cast<std::size_t>(text.data() + next - field)));
                if (field) ++field;
            }
            if (field) {
                while (field < text.data() + next && (*field == ' ' || *field == '\t')) ++field;
                char digits[24] = {};
                std::size_t n = 0;
                while (field + n < text.data() + next && n + 1 < sizeof digits && field[n] >= '0' && field[n] <= '9') {
                    digits[n] = field[n];
                    ++n;
                }
                if (n > 0 && std::strtoll(digits, nullptr, 10) >= packet_count) {
                    cut = line_start;
                    break;
                }
            }
        }
        line_start = next;
        ++line;
    }
    int result = 0;
    if (cut < size && file_truncate(list_fd, cut) != 0) result = -1;
    file_seek(list_fd, 0, kSeekEnd);
    return result;
}

long long cut_back_output(RunState& run, OutputStream& s, int fd, int list_fd) {
    const long long size = file_seek(fd, 0, kSeekEnd);
    if (size < 0) return 0;
    const long long back = -static_cast<long long>(run.options.overlap_after_k) * kOverlapUnitBytes;
    const long long cut = std::max(0LL, size - back);
    const long long kept = cut_back_file(run, s, fd, cut);
    const long long packets = (kept >= 0 ? kept : size) / kPacketSize;
    trim_gop_list(list_fd, packets);
    return packets;
}

void cut_back_at_finish(RunState& run, OutputStream& s) {
    if (run.options.overlap_after_k >= 0 || s.file.fd < 0) return;
    flush_gop_list(s.gop.list_fd, s.gop.list_buffer, s.gop.list_fill);
    s.file.packets_written = static_cast<int>(cut_back_output(run, s, s.file.fd, s.gop.list_fd));
}

namespace {

// The previous file's trailing overlap ends at this cut: it takes what the buffer still owes it.
long long end_trailing_overlap(OutputStream& s) {
    if (s.file.overlap_after_handle < 0) return 0;
    const long long result = write_overlap_due(s);
    close_overlap_after(s);
    return result;
}

// The file being cut is closed, or kept open as the previous file while it takes its trailing
// overlap: first everything buffered, then a negative xx2 cuts its end off (with its statistics and
// GOP list lines), then its audio part files are finished. A positive xx2 has it take the first
// xx2 x 1024 packets after the cut, and its GOP list the GOP starts among them, numbered on from
// its own end.
long long finish_cut_file(RunState& run, int slot, bool main_kind) {
    OutputStream& s = slot_at(run, slot);
    const Options& o = run.options;
    long long result = write_out_buffer(s);
    release_write_buffer(s);
    if (o.overlap_after_k < 0) {
        const long long packets = cut_back_output(run, s, s.file.fd, main_kind ? s.gop.prev_list_fd : -1);
        if (main_kind && s.gop.prev_list_fd >= 0) s.gop.prev_packets = static_cast<int>(packets);
    }
    if (o.audio_split > 0) close_audio_parts_of_cut(run, slot);
    if (o.overlap_after_k > 0) s.file.overlap_after_left = o.overlap_after_k * static_cast<int>(kPacketsPerOverlapUnit);
    if (s.file.overlap_after_left > 0) {
        s.file.overlap_after_handle = s.file.fd;
        s.file.overlap_after_path = s.file.path;
    } else {
        file_close(s.file.fd);
    }
    s.gop.prev_left = s.split.overlap_active ? s.file.overlap_after_left : 0;
    s.file.fd = -1;
    s.file.packets_written = 0;
    return result;
}

// One change that shows in the EIT and in the PMT gives one split: the other table's next arrival
// only sets its memory again.
void forget_other_table(RunState& run, const OutputStream& s, SplitKind kind) {
    for (int i = 0; i < run.tables.count; ++i) {
        ProgramEntry& row = run.tables.entries[static_cast<std::size_t>(i)];
        if (row.pmt_pid != s.programme.pmt_pid) continue;
        if (kind == SplitKind::Programme)
            row.last_pmt_version = -1;
        else
            row.last_event_id = -1;
    }
}

// The new file: PAT and PMT, then the packets kept before the cut (the overlap ring). Without x3
// the ring starts empty for the next cut; a PMT cut without overlap drops what belonged to the old
// streams.
long long start_next_file(RunState& run, int slot, SplitKind kind, bool pmt_changed) {
    OutputStream& s = slot_at(run, slot);
    const bool main_kind = kind != SplitKind::OneSeg;
    const bool replay = kind != SplitKind::Pmt || s.split.overlap_active;
    const bool replaying = replay && s.file.overlap_ring.count > 0;
    const bool pmt_follows = kind == SplitKind::Pmt || pmt_changed;
    long long result = start_new_file(run, slot, replaying, pmt_follows);
    if (replaying) {
        const SlotProgramme& p = s.programme;
        const int video_pid = kind == SplitKind::Pmt ? p.previous_video_pid : (p.es_count > 0 ? p.es_pids[0] : -1);
        const int audio_pid = kind == SplitKind::Pmt ? p.previous_audio_pid : p.first_audio_pid;
        if (replay_overlap_ring(run, slot, video_pid, audio_pid, main_kind) == -1) result = -1;
        // The file's first GOP is a replayed copy: a later, complete GOP must not be marked as
        // following a cut, or decoders drop its leading pictures for nothing.
        if (s.gop.last_gop_packet >= 0) s.gop.broken_link_pending = 0;
    }
    if (run.options.overlap_drop_prior || (kind == SplitKind::Pmt && !s.split.overlap_active)) ring_clear(s.file.overlap_ring);
    // A new PMT version follows its PAT; before a replay the PAT was the replayed one.
    if (kind == SplitKind::Pmt && replaying && write_own_pat(run, s, 0) == -1) result = -1;
    return result;
}

}  // namespace

long long split_output(RunState& run, int slot, SplitKind kind, int overlap, bool pmt_changed) {
    OutputStream& s = slot_at(run, slot);
    const bool main_kind = kind != SplitKind::OneSeg;
    long long result = end_trailing_overlap(s);
    if (main_kind) {
        // The list of the file before this one is done; the current list goes on as the list of the
        // file that now takes the trailing overlap.
        finish_overlap_gop_list(s);
        s.split.overlap_active = kind == SplitKind::Pmt ? overlap : 1;
        pass_gop_list_on(s);
    }
    if (s.file.fd < 0) return result;  // nothing written yet: the slot keeps its name

    if (finish_cut_file(run, slot, main_kind) == -1) result = -1;
    // The next file's name; the writer creates it with the next packet.
    ++s.split.split_number;
    s.file.path = slot_file_path(run, slot, s.split.split_number);
    if (main_kind) {
        forget_other_table(run, s, kind);
        print_split_line(run, slot, kind);
    }
    reset_file_state(run, slot);
    // After a PMT split the audio mode is learnt afresh (its stream may have changed too).
    if (kind == SplitKind::Pmt) forget_audio_mode(run, slot);
    if (start_next_file(run, slot, kind, pmt_changed) == -1) result = -1;
    return result;
}

long long check_programme_change(RunState& run, const std::uint8_t* p) {
    EitPresentEvent present;
    if (!parse_eit_present_event(p, present)) return 0;
    const int service_id = present.service_id;
    const int event_id = present.event_id;

    ProgramTables& t = run.tables;
    int row_index = -1;
    for (int i = 0; i < t.count; ++i)
        if (t.entries[static_cast<std::size_t>(i)].program_number == service_id) {
            row_index = i;
            break;
        }
    if (row_index < 0) return 0;
    ProgramEntry& row = t.entries[static_cast<std::size_t>(row_index)];
    long long result = 0;
    if (row.last_event_id != -1 && row.last_event_id != event_id) {
        for (int k = 0; k < kSlotCount; ++k) {
            const OutputStream& s = slot_at(run, k);
            if (!s.programme.in_use || s.programme.service_id != service_id) continue;
            if (split_output(run, k, is_oneseg_slot(k) ? SplitKind::OneSeg : SplitKind::Programme) == -1) result = -1;
            break;
        }
        // The one-segment services follow the first service's programmes unless their own PMT
        // changes split them.
        if (!run.options.split_on_pmt && row_index == 0) {
            for (int k = kSlotOneSeg; k <= kSlotOneSeg2; ++k) {
                const OutputStream& s = slot_at(run, k);
                if (s.programme.in_use && s.file.fd >= 0 && split_output(run, k, SplitKind::OneSeg) == -1) result = -1;
            }
        }
    }
    row.last_event_id = event_id;
    return result;
}

long long check_pmt_change(RunState& run, int slot) {
    OutputStream& s = slot_at(run, slot);
    if (find_pmt_row(run.tables, s.programme.pmt_pid) < 0 || s.file.fd < 0) return 0;
    // Across a change of the video PID the pictures before and after do not belong together: the
    // overlaps are made only when -OVL x4 asks for them.
    const int overlap = (s.programme.previous_video_pid == s.programme.video_pid || run.options.overlap_on_video_change) ? 1 : 0;
    return split_output(run, slot, SplitKind::Pmt, overlap);
}

long long check_oneseg_pmt_change(RunState& run, int slot) {
    if (!is_oneseg_slot(slot) || slot_at(run, slot).file.fd < 0) return 0;
    return split_output(run, slot, SplitKind::OneSeg, 1, true);
}

void reset_split_state(RunState& run, int slot) {
    OutputStream& s = slot_at(run, slot);
    s.split.overlap_active = 1;
    s.file.overlap_after_left = 0;
    s.file.last_pmt_written_valid = 0;
    // A pass read again from the start must not replay packets of the pass before it.
    ring_clear(s.file.overlap_ring);
    if (s.split.split_number > 0) {
        s.split.split_number = 0;
        s.file.path = slot_file_path(run, slot, 0);
    }
}

}  // namespace quill
