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
    if (id == run.input.source_identity) return true;
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

long long write_packet(RunState& run, OutputStream& slot, const std::uint8_t* packet, int live) {
    const Options& o = run.options;
    if (!slot.file.enabled || !slot.programme.in_use) return 0;
    if (slot.file.fd < 0 && !o.gop_only) {
        slot.file.fd = open_output(run, slot);
        if (slot.file.fd < 0) {
            console_printf(stdout, msg::kOpenOutputFailed, slot.file.path.c_str());
            return -1;
        }
        note_opened_file(run, slot.file.path);
        if (o.collect_stats) stats_register_file(slot, slot.file.fd);
        release_write_buffer(slot);
        if (o.buffer_mb > 0) {
            const std::size_t size = static_cast<std::size_t>(o.buffer_mb) * 1048576u;
            slot.file.write_buffer.reset(allocate_large_buffer(size));
            if (slot.file.write_buffer) slot.file.buffer_capacity = size;
        }
        slot.file.packets_written = 0;
    }
    ++slot.file.packets_written;
    if (o.gop_only) return kPacketSize;

    if (o.collect_stats) {
        stats_count_packet(slot, slot.file.fd, packet);
        if (slot.file.overlap_after_handle >= 0 && slot.gop.prev_left > 0 && live && slot.split.overlap_active)
            stats_count_packet(slot, slot.file.overlap_after_handle, packet);
    }
    if (slot.gop.prev_left > 0 && live && slot.split.overlap_active) {
        ++slot.gop.prev_packets;
        --slot.gop.prev_left;
    }

    bool wrote = false;
    long long written = 0;
    if (slot.file.write_buffer && live) {
        if (slot.file.buffer_fill + kPacketSize > slot.file.buffer_capacity) {
            written = flush_write_buffer(slot);
            wrote = true;
        }
        std::memcpy(slot.file.write_buffer.get() + slot.file.buffer_fill, packet, kPacketSize);
        slot.file.buffer_fill += kPacketSize;
    } else {
        if (slot.file.overlap_after_handle >= 0 && live) {
            if (slot.file.overlap_after_left > 0) {
                if (slot.split.overlap_active &&
                    write_checked(slot.file.overlap_after_handle, packet, kPacketSize, slot.file.overlap_after_path) == -1)
                    written = -1;
                --slot.file.overlap_after_left;
            }
            if (slot.file.overlap_after_left <= 0) close_overlap_after(slot);
        }
        if (written != -1) written = write_checked(slot.file.fd, packet, kPacketSize, slot.file.path) == -1 ? -1 : kPacketSize;
        wrote = true;
    }
    if (live && slot.file.overlap_ring.capacity > 0) ring_push(slot.file.overlap_ring, packet);
    // A PMT section start (pointer_field 0, section at byte 5): kept for the start of a split's file.
    if (live && ts_pid(packet) == slot.programme.pmt_pid && ts_payload_unit_start(packet) &&
        ts_adaptation_field_control(packet) == 1 && packet[4] == 0 && section_table_id(packet) == kPmtTableId) {
        std::memcpy(slot.file.last_pmt_written.data(), packet, kPacketSize);
        slot.file.last_pmt_written_valid = 1;
    }
    if (live && ts_scrambling_control(packet) != 0) ++slot.file.scrambled_count;
    return wrote ? written : 0;
}

}  // namespace quill
