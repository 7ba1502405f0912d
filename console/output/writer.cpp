#include "output/writer.h"

#include <cstring>
#include <new>

#include "platform/console.h"
#include "platform/system.h"
#include "state/messages.h"
#include "stream/stats.h"
#include "stream/ts_packet.h"

namespace quill {

bool is_read_only_file(const RunState& run, const FileIdentity& id) {
    if (id == run.input.source_identity || id == run.input.spool_identity) return true;
    for (const FileIdentity& list : run.input.list_files)
        if (id == list) return true;
    return false;
}

void note_opened_file(RunState& run, const std::string& path) {
    for (const std::string& known : run.input.opened_files)
        if (known == path) return;
    run.input.opened_files.push_back(path);
}

void ring_resize(PacketRing& ring, int capacity) {
    capacity = capacity > 0 ? capacity : 0;
    if (capacity != ring.capacity) ring.bytes.reset();
    ring.capacity = capacity;
    ring_clear(ring);
}

void ring_push(PacketRing& ring, const std::uint8_t* packet) {
    if (ring.capacity <= 0) return;
    if (!ring.bytes) {
        // Taken once for the ring's life; without the memory there is no overlap before a cut.
        ring.bytes.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(ring.capacity) * kPacketSize]);
        if (!ring.bytes) return;
    }
    int at = ring.head + ring.count;
    if (at >= ring.capacity) at -= ring.capacity;
    std::memcpy(ring.bytes.get() + static_cast<std::size_t>(at) * kPacketSize, packet, kPacketSize);
    if (ring.count < ring.capacity) {
        ++ring.count;
    } else if (++ring.head == ring.capacity) {
        ring.head = 0;  // the oldest was overwritten
    }
}

void ring_clear(PacketRing& ring) { ring.head = ring.count = 0; }

const std::uint8_t* ring_at(const PacketRing& ring, int i) {
    int at = ring.head + i;
    if (at >= ring.capacity) at -= ring.capacity;
    return ring.bytes.get() + static_cast<std::size_t>(at) * kPacketSize;
}

void release_write_buffer(OutputStream& slot) {
    slot.file.write_buffer.reset();
    slot.file.buffer_capacity = 0;
    slot.file.buffer_fill = 0;
}

namespace {

void close_overlap_after(OutputStream& slot) {
    file_close(slot.file.overlap_after_handle);
    slot.file.overlap_after_handle = -1;
}

// Opens the slot's file, truncated. The input being read is never opened for writing, whatever
// name the output got.
int open_output(RunState& run, OutputStream& slot) {
    int fd = file_open_rw_create(slot.file.path.c_str());
    if (fd >= 0 && is_read_only_file(run, file_identity(fd))) {
        file_close(fd);
        fd = -1;
    }
    // Devices (a pipe, /dev/full) have no size to cut; a regular file is emptied.
    if (fd >= 0 && file_seek(fd, 0, kSeekEnd) > 0 && file_truncate(fd, 0) != 0) {
        file_close(fd);
        fd = -1;
    }
    if (fd >= 0) file_seek(fd, 0, kSeekSet);
    return fd;
}

}  // namespace

long long write_checked(int fd, const void* data, std::size_t count, const std::string& path) {
    if (file_write(fd, data, count) == static_cast<long long>(count)) return 0;
    console_printf(stdout, msg::kWriteFailed, path.c_str());
    return -1;
}

namespace {

// The buffered bytes the overlap-after file is still due.
std::size_t overlap_due_bytes(const OutputStream& slot) {
    const std::size_t due = static_cast<std::size_t>(slot.file.overlap_after_left > 0 ? slot.file.overlap_after_left : 0) * static_cast<std::size_t>(kPacketSize);
    return slot.file.buffer_fill < due ? slot.file.buffer_fill : due;
}

}  // namespace

long long write_overlap_due(OutputStream& slot) {
    if (slot.file.overlap_after_handle < 0) return 0;
    const std::size_t n = overlap_due_bytes(slot);
    if (!slot.split.overlap_active || n == 0) return 0;
    return write_checked(slot.file.overlap_after_handle, slot.file.write_buffer.get(), n, slot.file.overlap_after_path);
}

long long write_overlap_after_part(OutputStream& slot) {
    if (slot.file.overlap_after_handle < 0) return 0;
    const std::size_t n = overlap_due_bytes(slot);
    const long long result = write_overlap_due(slot);
    slot.file.overlap_after_left -= static_cast<int>(n / kPacketSize);
    if (slot.file.overlap_after_left <= 0) close_overlap_after(slot);
    return result;
}

long long write_out_buffer(OutputStream& slot) {
    SlotFile& f = slot.file;
    long long result = 0;
    if (f.buffer_fill > 0) result = write_checked(f.fd, f.write_buffer.get(), f.buffer_fill, f.path);
    f.buffer_fill = 0;
    return result;
}

long long flush_write_buffer(OutputStream& slot) {
    const long long overlap = write_overlap_after_part(slot);
    const auto due = static_cast<long long>(slot.file.buffer_fill);
    const long long written = write_out_buffer(slot) == -1 ? -1 : due;
    return overlap == -1 ? -1 : written;
}

long long write_own_pat(RunState& run, OutputStream& slot, int live) {
    const auto& header = run.tables.pat_header_template;
    if (!slot.file.enabled || !slot.programme.in_use || header[0] != kSyncByte) return 0;
    std::uint8_t pat[kPacketSize];
    build_pat_packet(header.data(), slot.programme.service_id, slot.programme.pmt_pid, pat);
    return write_packet(run, slot, pat, live);
}

long long write_file_start(RunState& run, OutputStream& slot, const std::uint8_t* pat, const std::uint8_t* pmt) {
    const long long r = pat ? write_packet(run, slot, pat, 0) : write_own_pat(run, slot, 0);
    if (r == -1) return -1;
    return pmt && write_packet(run, slot, pmt, 0) == -1 ? -1 : 0;
}

namespace {

// The slot's file is opened with its first packet: emptied, registered for the statistics, and
// given a fresh write buffer. -1 (the message is printed) when it cannot be opened.
long long open_slot_file(RunState& run, OutputStream& slot) {
    const Options& o = run.options;
    SlotFile& f = slot.file;
    f.fd = open_output(run, slot);
    if (f.fd < 0) {
        console_printf(stdout, msg::kOpenOutputFailed, f.path.c_str());
        return -1;
    }
    note_opened_file(run, f.path);
    if (o.collect_stats) stats_register_file(slot, f.fd);
    release_write_buffer(slot);
    if (o.buffer_mb > 0) {
        const std::size_t size = static_cast<std::size_t>(o.buffer_mb) * 1048576u;
        f.write_buffer.reset(allocate_large_buffer(size));
        if (f.write_buffer) f.buffer_capacity = size;
    }
    f.packets_written = 0;
    return 0;
}

// The packet in the statistics of the slot's file; a live packet during the trailing overlap also
// counts for the previous file (and for its GOP list's numbering).
void count_written_packet(const Options& o, OutputStream& slot, const std::uint8_t* packet, int live) {
    const bool previous_takes_it = live && slot.gop.prev_left > 0 && slot.split.overlap_active;
    if (o.collect_stats) {
        stats_count_packet(slot, slot.file.fd, packet);
        if (slot.file.overlap_after_handle >= 0 && previous_takes_it)
            stats_count_packet(slot, slot.file.overlap_after_handle, packet);
    }
    if (previous_takes_it) {
        ++slot.gop.prev_packets;
        --slot.gop.prev_left;
    }
}

// Into the buffer, which is written out first when full. The bytes written then, 0 when the packet
// was only buffered, -1 after a failed write.
long long buffer_packet(OutputStream& slot, const std::uint8_t* packet) {
    SlotFile& f = slot.file;
    long long written = 0;
    if (f.buffer_fill + kPacketSize > f.buffer_capacity) written = flush_write_buffer(slot);
    std::memcpy(f.write_buffer.get() + f.buffer_fill, packet, kPacketSize);
    f.buffer_fill += kPacketSize;
    return written;
}

// Straight to the file (and, while it is due, to the previous file). kPacketSize, or -1 after a
// failed write.
long long write_now(OutputStream& slot, const std::uint8_t* packet, int live) {
    SlotFile& f = slot.file;
    bool failed = false;
    if (f.overlap_after_handle >= 0 && live) {
        if (f.overlap_after_left > 0) {
            if (slot.split.overlap_active &&
                write_checked(f.overlap_after_handle, packet, kPacketSize, f.overlap_after_path) == -1)
                failed = true;
            --f.overlap_after_left;
        }
        if (f.overlap_after_left <= 0) close_overlap_after(slot);
    }
    if (failed || write_checked(f.fd, packet, kPacketSize, f.path) == -1) return -1;
    return kPacketSize;
}

// What a live packet leaves behind: its copy in the overlap ring, the latest PMT section start
// (a split's file begins with it), the count of scrambled packets.
void remember_live_packet(OutputStream& slot, const std::uint8_t* packet) {
    SlotFile& f = slot.file;
    if (f.overlap_ring.capacity > 0) ring_push(f.overlap_ring, packet);
    if (ts_pid(packet) == slot.programme.pmt_pid && section_starts_at_five(packet) &&
        section_table_id(packet) == kPmtTableId) {
        std::memcpy(f.last_pmt_written.data(), packet, kPacketSize);
        f.last_pmt_written_valid = 1;
    }
    if (ts_scrambling_control(packet) != 0) ++f.scrambled_count;
}

}  // namespace

long long write_packet(RunState& run, OutputStream& slot, const std::uint8_t* packet, int live) {
    const Options& o = run.options;
    if (!slot.file.enabled || !slot.programme.in_use) return 0;
    if (slot.file.fd < 0 && !o.gop_only && open_slot_file(run, slot) == -1) return -1;
    ++slot.file.packets_written;
    if (o.gop_only) return kPacketSize;
    count_written_packet(o, slot, packet, live);
    const long long written = slot.file.write_buffer && live ? buffer_packet(slot, packet) : write_now(slot, packet, live);
    if (live) remember_live_packet(slot, packet);
    return written;
}

}  // namespace quill
