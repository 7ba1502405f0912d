#include "segment/gop_list.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "output/naming.h"
#include "output/writer.h"
#include "platform/file_io.h"
#include "platform/path.h"
#include "segment/timing.h"
#include "state/run_state.h"
#include "stream/pes.h"
#include "stream/ts_packet.h"

namespace quill {

namespace {

constexpr char kListHeader[] = "TS_CUT2\r\n\r\n";
constexpr std::uint8_t kSequenceHeaderCode = 0xB3;  // ISO/IEC 13818-2 sequence_header_code
constexpr int kLastStartCodeSearch = 183;

bool has_payload(const std::uint8_t* p) { return (ts_adaptation_field_control(p) & 1) != 0; }

bool start_code_prefix(const std::uint8_t* b) { return b[0] == 0 && b[1] == 0 && b[2] == 1; }

void release(std::unique_ptr<char[]>& buffer, std::size_t& fill) {
    buffer.reset();
    fill = 0;
}

// Lists are aids for the cut editor: a failed write of one is not an error of the input, whose
// stream files are what counts, so its result is not looked at.
void write_list_text(int fd, const void* text, std::size_t length) {
    if (file_write(fd, text, length) != static_cast<long long>(length)) return;
}

void close_list(int& fd) {
    if (fd >= 0) file_close(fd);
    fd = -1;
}

// Opens (creating or emptying) the list of the slot's current file and writes its header. The
// input itself is never opened for writing, whatever name the list got.
void open_list(RunState& run, OutputStream& s) {
    const std::string path = gop_list_path(run.options, s);
    int fd = file_open_rw_create(path.c_str());
    if (fd < 0) return;
    if (is_read_only_file(run, file_identity(fd)) ||
        (file_seek(fd, 0, kSeekEnd) > 0 && file_truncate(fd, 0) != 0)) {
        file_close(fd);
        return;
    }
    note_opened_file(run, path);
    file_seek(fd, 0, kSeekSet);
    write_list_text(fd, kListHeader, sizeof kListHeader - 1);
    s.gop.list_fd = fd;
    s.gop.list_fill = 0;
    if (!s.gop.list_buffer) s.gop.list_buffer.reset(new (std::nothrow) char[kGopListBufferSize]);
}

// A line into a list: collected in its buffer (written out when it would overflow), or written
// straight away when the list has no buffer. Write errors on lists are ignored.
void append_line(int fd, std::unique_ptr<char[]>& buffer, std::size_t& fill, const char* line, std::size_t length) {
    if (fd < 0) return;
    if (!buffer) {
        write_list_text(fd, line, length);
        return;
    }
    if (fill + length > kGopListBufferSize) flush_gop_list(fd, buffer, fill);
    std::memcpy(buffer.get() + fill, line, length);
    fill += length;
}

// The label column: the audio channel code under -GOPCH, the broadcast time under -GOPTIME
// (in parentheses behind the code when both are on).
void build_label(const Options& o, const OutputStream& s, std::int64_t pts, char* label, std::size_t size) {
    int used = 0;
    label[0] = '\0';
    if (o.gop_channel && s.audio.channel_code != -1)
        used = std::snprintf(label, size, o.gop_time ? "Ch%02d" : "AudioCh%02d", s.audio.channel_code);
    if (used < 0 || static_cast<std::size_t>(used) >= size) return;
    if (o.gop_time && !time_unset(s.clocks.clock_offset)) {
        const ClockParts c = clock_parts(broadcast_clock(pts, s.clocks.clock_offset));
        std::snprintf(label + used, size - static_cast<std::size_t>(used),
                      o.gop_channel ? "(%02d:%02d:%02d:%03d)" : "%02d:%02d:%02d:%03d", c.hours, c.minutes,
                      c.seconds, c.milliseconds);
    }
}

int format_line(char* line, std::size_t size, int pid, const char* label, std::int64_t pts, int packet_number) {
    const ClockParts c = clock_parts(pts);
    return std::snprintf(line, size, "%04x,%s,%02d:%02d:%02d:%03d,%lld,%d\r\n", pid, label, c.hours, c.minutes,
                         c.seconds, c.milliseconds, static_cast<long long>(pts), packet_number);
}

void on_gop_start(RunState& run, OutputStream& s, int pid, std::int64_t pts, int live) {
    const Options& o = run.options;
    const int n = s.file.packets_written;  // this packet's number in the file: it is written next
    s.gop.last_gop_packet = n;
    if (live) {
        if (s.gop.next_gop_pending) {
            s.gop.next_gop_pts = pts;
            s.gop.next_gop_pending = 0;
        } else {
            s.gop.last_gop_pts = pts;
            s.gop.audio_pts_at_gop = s.audio.current_pts;
        }
        if (s.gop.broken_link_pending) {
            s.gop.broken_link_pid = pid;
            s.gop.broken_link_fill = 0;
        }
    }
    if (time_unset(s.clocks.clock_offset) && !time_unset(s.clocks.broadcast_time)) s.clocks.clock_offset = s.clocks.broadcast_time - pts;
    if (!o.gop_list) return;

    char label[48];
    build_label(o, s, pts, label, sizeof label);
    char line[128];
    int length = format_line(line, sizeof line, pid, label, pts, n);
    if (length > 0) append_line(s.gop.list_fd, s.gop.list_buffer, s.gop.list_fill, line, static_cast<std::size_t>(length));
    // A GOP inside the trailing overlap of a cut also belongs to the previous file's list.
    if (live && s.gop.prev_list_fd >= 0 && s.gop.prev_left > 0) {
        length = format_line(line, sizeof line, pid, label, pts, s.gop.prev_packets);
        if (length > 0)
            append_line(s.gop.prev_list_fd, s.gop.prev_list_buffer, s.gop.prev_list_fill, line,
                        static_cast<std::size_t>(length));
    }
}

// A video PES start with a PTS whose first start code behind the PES header is a sequence
// header begins a GOP.
void detect_gop_start(RunState& run, OutputStream& s, const std::uint8_t* p, int live) {
    const std::int64_t pts = video_pes_pts(p);
    if (pts < 0) return;
    s.gop.last_video_pts = pts;
    const int pes = ts_payload_offset(p);

    int code = -1;
    for (int i = pes + 14; i <= kLastStartCodeSearch; ++i)
        if (start_code_prefix(p + i)) {
            code = p[i + 3];
            break;
        }
    if (code < 0) return;
    if (time_unset(s.gop.first_video_pts)) s.gop.first_video_pts = pts;
    if (code == kSequenceHeaderCode) on_gop_start(run, s, ts_pid(p), pts, live);
}

// Collects the watched PID's payload until the GOP header shows up and sets its broken_link
// bit in the packet about to be written.
void mark_broken_link(OutputStream& s, std::uint8_t* p) {
    if (!has_payload(p)) return;
    const int offset = ts_payload_offset(p);
    const int length = kPacketSize - offset;
    if (length <= 0 || s.gop.broken_link_fill + length >= static_cast<int>(s.gop.broken_link_bytes.size())) return;
    std::uint8_t* bytes = s.gop.broken_link_bytes.data();
    const int start = s.gop.broken_link_fill;  // where this packet's payload begins in the collection
    std::memcpy(bytes + start, p + offset, static_cast<std::size_t>(length));
    s.gop.broken_link_fill += length;
    const int flag = find_broken_link_byte(bytes, s.gop.broken_link_fill);
    if (flag < 0) return;  // no GOP header yet, or its flag byte comes with the next packet
    // A flag byte in a packet already written cannot be changed any more; the mark is given up.
    if (flag >= start) p[offset + (flag - start)] |= kBrokenLinkBit;
    s.gop.broken_link_pending = 0;
    s.gop.broken_link_pid = -1;
}

void finish_list(int& fd, std::unique_ptr<char[]>& buffer, std::size_t& fill, bool flush, int packet_count) {
    if (fd < 0) {
        release(buffer, fill);
        return;
    }
    if (flush) flush_gop_list(fd, buffer, fill);
    release(buffer, fill);
    append_gop_trailer(fd, packet_count);
    close_list(fd);
}

}  // namespace

void gop_list_packet(RunState& run, int slot, std::uint8_t* packet, int live) {
    OutputStream& s = run.outputs[static_cast<std::size_t>(slot)];
    if (!s.programme.in_use) return;
    if (run.options.gop_list && s.gop.list_fd < 0) open_list(run, s);
    detect_gop_start(run, s, packet, live);
    if (live && s.gop.broken_link_pending && ts_pid(packet) == s.gop.broken_link_pid) mark_broken_link(s, packet);
}

std::string gop_list_path(const Options& options, const OutputStream& slot) {
    const PathParts parts = split_path(slot.file.path);
    std::string base = parts.base;
    std::string suffix;
    const std::size_t at = slot.file.suffix.empty() ? std::string::npos : parts.base.rfind(slot.file.suffix);
    if (at != std::string::npos) {
        base = parts.base.substr(0, at);
        suffix = parts.base.substr(at);
    }
    return build_output_name(options, parts.drive, parts.folder, base, suffix, parts.ext + ".txt");
}

int reopen_gop_list(RunState& run, const std::string& path) {
    const int fd = file_open_rw_create(path.c_str());
    if (fd < 0) return -1;
    if (is_read_only_file(run, file_identity(fd)) || file_seek(fd, 0, kSeekEnd) < 0) {
        file_close(fd);
        return -1;
    }
    note_opened_file(run, path);
    return fd;
}

void flush_gop_list(int fd, std::unique_ptr<char[]>& buffer, std::size_t& fill) {
    if (fd >= 0 && buffer && fill > 0) write_list_text(fd, buffer.get(), fill);
    fill = 0;
}

void append_gop_trailer(int fd, int packet_count) {
    if (fd < 0) return;
    char trailer[96];
    const int length = std::snprintf(trailer, sizeof trailer,
                                     "LAST       ,%d\r\nPID_VIDEO,0000\r\nTSPAC_TYPE,188\r\nEND\r\n", packet_count);
    if (length > 0) write_list_text(fd, trailer, static_cast<std::size_t>(length));
}

void pass_gop_list_on(OutputStream& s) {
    if (s.gop.list_fd < 0) return;
    flush_gop_list(s.gop.list_fd, s.gop.list_buffer, s.gop.list_fill);
    s.gop.prev_list_fd = s.gop.list_fd;
    s.gop.list_fd = -1;
    s.gop.prev_list_buffer = std::move(s.gop.list_buffer);
    s.gop.prev_list_fill = 0;
    s.gop.prev_packets = s.file.packets_written;
}

void finish_overlap_gop_list(OutputStream& s) {
    finish_list(s.gop.prev_list_fd, s.gop.prev_list_buffer, s.gop.prev_list_fill, s.split.overlap_active != 0,
                s.gop.prev_packets);
}

void finish_gop_lists(OutputStream& s) {
    finish_overlap_gop_list(s);
    finish_list(s.gop.list_fd, s.gop.list_buffer, s.gop.list_fill, true, s.file.packets_written);
}

void reset_gop_state(OutputStream& s) {
    close_list(s.gop.list_fd);
    close_list(s.gop.prev_list_fd);
    release(s.gop.list_buffer, s.gop.list_fill);
    release(s.gop.prev_list_buffer, s.gop.prev_list_fill);
    s.gop.last_video_pts = s.gop.first_video_pts = kUnsetTime;
    s.gop.last_gop_packet = -1;
    s.gop.last_gop_pts = s.gop.audio_pts_at_gop = s.gop.next_gop_pts = kUnsetTime;
    s.gop.next_gop_pending = 0;
    s.gop.broken_link_pending = 0;
    s.gop.broken_link_pid = -1;
    s.gop.broken_link_fill = 0;
}

}  // namespace quill
