#include "stream/stats.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/console.h"
#include "state/messages.h"
#include "state/run_state.h"
#include "stream/ts_packet.h"

namespace quill {

namespace {

// Output paths are compared the way a case-insensitive file system would for the letters that
// matter in our names; only ASCII letters are folded, so multibyte characters never compare equal
// to one another by accident.
bool same_path_ignoring_case(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Two names of one file. On a case-sensitive file system "a.ts" and "A.ts" are two files, so
// when both identities are known they must agree as well.
bool same_file(const FileStatsSlot& file, const std::string& path, const FileIdentity& identity) {
    if (!same_path_ignoring_case(file.path, path)) return false;
    if (file.identity.valid && identity.valid) return file.identity == identity;
    return true;
}

bool may_allocate(SlotStatistics& stats) {
    if (stats.allocation_budget < 0) return true;
    if (stats.allocation_budget == 0) return false;
    --stats.allocation_budget;
    return true;
}

void report_no_memory(FileStatsSlot& file) {
    if (!file.incomplete) console_printf(stdout, msg::kStatsNoMemory, file.path.c_str());
    file.incomplete = true;
}

FileStatsSlot* file_of(SlotStatistics& stats, int fd) {
    if (fd < 0 || static_cast<std::size_t>(fd) >= stats.file_of_handle.size()) return nullptr;
    const int index = stats.file_of_handle[static_cast<std::size_t>(fd)];
    if (index < 0 || static_cast<std::size_t>(index) >= stats.files.size()) return nullptr;
    return &stats.files[static_cast<std::size_t>(index)];
}

// Points `fd` at entry `index`; false when the map could not grow.
bool map_handle(SlotStatistics& stats, int fd, int index) {
    if (fd < 0) return false;
    const std::size_t at = static_cast<std::size_t>(fd);
    if (at >= stats.file_of_handle.size()) {
        if (!may_allocate(stats)) return false;
        try {
            stats.file_of_handle.resize(std::max<std::size_t>(at + 1, 64), -1);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    stats.file_of_handle[at] = index;
    return true;
}

// The record of the packet's PID, created on its first packet; null when memory ran out.
PidStats* record_for(SlotStatistics& stats, FileStatsSlot& file, int pid) {
    const std::uint16_t slot = file.record_of_pid[static_cast<std::size_t>(pid)];
    if (slot != 0) return &file.records[slot - 1u];
    if (file.incomplete) return nullptr;  // memory already ran out for this file: do not retry per packet
    if (!may_allocate(stats)) {
        report_no_memory(file);
        return nullptr;
    }
    try {
        file.records.emplace_back();
    } catch (const std::bad_alloc&) {
        report_no_memory(file);
        return nullptr;
    }
    PidStats& record = file.records.back();
    record.pid = pid;
    file.record_of_pid[static_cast<std::size_t>(pid)] = static_cast<std::uint16_t>(file.records.size());
    return &record;
}

}  // namespace

void stats_register(SlotStatistics& stats, int fd, const std::string& path, const FileIdentity& identity) {
    for (std::size_t i = 0; i < stats.files.size(); ++i) {
        FileStatsSlot& file = stats.files[i];
        if (!same_file(file, path, identity)) continue;
        file.fd = fd;
        if (!map_handle(stats, fd, static_cast<int>(i))) report_no_memory(file);
        return;
    }
    const int index = static_cast<int>(stats.files.size());
    // A handle number reused by this file must not keep counting into the file it belonged to.
    if (fd >= 0 && static_cast<std::size_t>(fd) < stats.file_of_handle.size())
        stats.file_of_handle[static_cast<std::size_t>(fd)] = -1;
    if (!may_allocate(stats)) {
        console_printf(stdout, msg::kStatsNoMemory, path.c_str());
        ++stats.lost_files;
        return;
    }
    try {
        stats.files.emplace_back();
        FileStatsSlot& file = stats.files.back();
        file.path = path;
        file.identity = identity;
        file.fd = fd;
    } catch (const std::bad_alloc&) {
        if (stats.files.size() > static_cast<std::size_t>(index)) stats.files.pop_back();
        console_printf(stdout, msg::kStatsNoMemory, path.c_str());
        ++stats.lost_files;
        return;
    }
    FileStatsSlot& file = stats.files.back();
    if (may_allocate(stats)) file.record_of_pid.reset(new (std::nothrow) std::uint16_t[kPidCount]());
    if (!file.record_of_pid) {
        report_no_memory(file);
        return;
    }
    if (!map_handle(stats, fd, index)) report_no_memory(file);
}

void count_packet(SlotStatistics& stats, int fd, const std::uint8_t* packet, bool take_back) {
    FileStatsSlot* file = file_of(stats, fd);
    if (!file || !file->record_of_pid) return;
    const int pid = ts_pid(packet);
    PidStats* st;
    if (take_back) {
        // A PID this file never counted has nothing to take out (and must not show up as -1).
        st = const_cast<PidStats*>(stats_pid(*file, pid));
        if (!st) return;
    } else {
        st = record_for(stats, *file, pid);
        if (!st) return;
    }
    const int sign = take_back ? -1 : 1;
    const int adaptation_field_control = ts_adaptation_field_control(packet);
    const int continuity_counter = ts_continuity_counter(packet);
    // A malformed adaptation field parses as all zero: no discontinuity.
    const unsigned discontinuity =
        (adaptation_field_control & 2) ? parse_adaptation_field(packet).discontinuity_indicator : 0;

    if (st->last_continuity_counter >= 0 && !discontinuity) {
        if (pid != kNullPid) {
            const int last = st->last_continuity_counter;
            if (!(adaptation_field_control & 1)) {
                // Without payload the counter must not move (ISO/IEC 13818-1 2.4.3.3).
                if (continuity_counter != last) st->drop += sign;
            } else if (continuity_counter != last) {
                if (continuity_counter != ((last + 1) & 0x0F)) st->drop += sign;
                st->duplicate_run = 0;
            } else {
                // One exact repetition is a legal duplicate; further ones, or a repeated counter
                // with other bytes, are not.
                if (std::memcmp(st->last_packet, packet, kPacketSize) != 0) st->drop += sign;
                if (++st->duplicate_run > 1) st->drop += sign;
            }
            if (st->drop < 0) st->drop = 0;
        }
    } else {
        // This packet is the new reference: a run of repeats starts afresh from it. Without this,
        // a run counted before a reset would make the first legal duplicate after it cost a drop,
        // and a take-back walk would subtract more than the same packets had added.
        st->duplicate_run = 0;
    }
    st->last_continuity_counter = continuity_counter;
    st->total += sign;
    std::memcpy(st->last_packet, packet, kPacketSize);
    if (ts_scrambling_control(packet) != 0) st->scrambling += sign;
    if (ts_transport_error(packet)) st->biterror += sign;
}

void reset_continuity(SlotStatistics& stats, int fd) {
    FileStatsSlot* file = file_of(stats, fd);
    if (!file) return;
    for (PidStats& record : file->records) {
        record.last_continuity_counter = -1;
        record.duplicate_run = 0;
    }
}

void stats_clear(SlotStatistics& stats) {
    std::vector<FileStatsSlot>().swap(stats.files);
    std::vector<int>().swap(stats.file_of_handle);
    stats.lost_files = 0;
}

const FileStatsSlot* stats_file_of(const SlotStatistics& stats, int fd) {
    return file_of(const_cast<SlotStatistics&>(stats), fd);
}

const PidStats* stats_pid(const FileStatsSlot& file, int pid) {
    if (!file.record_of_pid || pid < 0 || pid >= kPidCount) return nullptr;
    const std::uint16_t slot = file.record_of_pid[static_cast<std::size_t>(pid)];
    return slot != 0 ? &file.records[slot - 1u] : nullptr;
}

void stats_register_file(OutputStream& slot, int fd) {
    stats_register(slot.statistics, fd, slot.file.path, file_identity(fd));
}

void stats_count_packet(OutputStream& slot, int fd, const std::uint8_t* packet) {
    count_packet(slot.statistics, fd, packet, false);
}

void stats_discard(OutputStream& slot) { stats_clear(slot.statistics); }

long long cut_back_file(RunState& run, OutputStream& slot, int fd, long long cut,
                        std::vector<std::uint8_t>* taken) {
    const long long size = file_seek(fd, 0, kSeekEnd);
    if (size < 0) return -1;
    cut = std::clamp(cut, 0LL, size);
    const bool counting = run.options.collect_stats != 0;
    if (counting || taken) {
        if (taken) {
            try {
                taken->reserve(taken->size() + static_cast<std::size_t>(size - cut));
            } catch (const std::bad_alloc&) {
                return -1;
            }
        }
        if (file_seek(fd, cut, kSeekSet) != cut) return -1;
        if (counting) reset_continuity(slot.statistics, fd);
        // Read in larger pieces, walk kPacketSize bytes at a time; a partial packet at the end is not a packet.
        std::uint8_t chunk[kPacketSize * 64];
        long long left = size - cut;
        std::size_t held = 0;
        while (left > 0) {
            const std::size_t want = static_cast<std::size_t>(std::min<long long>(left, static_cast<long long>(sizeof chunk - held)));
            const long long got = file_read(fd, chunk + held, want);
            if (got <= 0) break;
            left -= got;
            held += static_cast<std::size_t>(got);
            std::size_t at = 0;
            for (; at + kPacketSize <= held; at += kPacketSize) {
                if (counting) count_packet(slot.statistics, fd, chunk + at, true);
                if (taken) taken->insert(taken->end(), chunk + at, chunk + at + kPacketSize);
            }
            std::memmove(chunk, chunk + at, held - at);
            held -= at;
        }
    }
    if (cut < size && file_truncate(fd, cut) != 0) return -1;
    // ftruncate leaves the position where it was; the next write must continue at the cut.
    if (file_seek(fd, cut, kSeekSet) != cut) return -1;
    return cut;
}

}  // namespace quill
