#include "stream/tables.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "state/run_state.h"
#include "stream/ts_packet.h"

namespace quill {

namespace {

constexpr int kCaDescriptorTag = 0x09;
// ARIB STD-B10 hierarchical_transmission_descriptor: quality_level in bit 0 of its first body
// byte (0 = the low-quality layer), then reference_PID.
constexpr int kHierarchicalDescriptorTag = 0xC0;
constexpr int kNoPid = 0x1FFF;

// Byte offsets of a PMT section starting at byte 5 (ISO/IEC 13818-1 2.4.4.8).
constexpr int kPmtPcrPid = 13;
constexpr int kPmtProgramInfoLength = 15;
constexpr int kPmtFirstDescriptor = 17;
constexpr int kPatFirstEntry = 13;
constexpr int kCatFirstDescriptor = 13;

int pid13(const std::uint8_t* p) { return ((p[0] & 0x1F) << 8) | p[1]; }
int length12(const std::uint8_t* p) { return ((p[0] & 0x0F) << 8) | p[1]; }

OutputStream& slot_at(RunState& run, int slot) { return run.outputs[static_cast<std::size_t>(slot)]; }

// Adds a PID to a list of `n` entries whose first free entry is 0; a full list takes no more.
void add_unique(int* list, int n, int pid) {
    for (int i = 0; i < n; ++i) {
        if (list[i] == pid) return;
        if (list[i] == 0) {
            list[i] = pid;
            return;
        }
    }
}

bool contains(const int* list, int n, int pid) {
    for (int i = 0; i < n; ++i)
        if (list[i] == pid) return true;
    return false;
}

// The CA_PID of a CA_descriptor whose tag and length bytes are at `d` (length checked by caller).
int ca_pid(const std::uint8_t* d) { return pid13(d + 4); }

// Calls `visit(tag, d, length)` for every descriptor wholly inside [begin, end) of the packet.
template <typename Visit>
void for_each_descriptor(const std::uint8_t* packet, int begin, int end, Visit visit) {
    if (end > kPacketSize) end = kPacketSize;
    int pos = begin;
    while (pos + 2 <= end) {
        const int tag = packet[pos];
        const int length = packet[pos + 1];
        if (pos + 2 + length > end) return;
        visit(tag, packet + pos, length);
        pos += 2 + length;
    }
}

// The PCR PID the slot has to route on its own: 0 when the PCR rides on one of the slot's
// elementary PIDs, or when the PMT names none (0x1FFF, which would otherwise catch null packets).
int own_pcr_pid(int pcr_pid, const std::array<int, kMaxEsPids>& es_pids, int es_count) {
    if (pcr_pid == kNoPid) return 0;
    return contains(es_pids.data(), es_count, pcr_pid) ? 0 : pcr_pid;
}

// The slot takes the programme of `row`: its streams, ECM PIDs, PMT PID and service id together,
// so that the generated PAT always names the programme whose PMT the file carries.
void fill_slot(OutputStream& s, const ProgramEntry& row) {
    s.programme.es_pids = row.es_pids;
    s.programme.es_count = row.es_count;
    s.programme.pcr_pid = own_pcr_pid(row.pcr_pid, row.es_pids, row.es_count);
    s.programme.ecm_pids = row.ecm_pids;
    s.programme.pmt_pid = row.pmt_pid;
    s.programme.service_id = row.program_number;
    if (row.has_pmt_packet) std::memcpy(s.programme.last_pmt_packet.data(), row.pmt_packet.data(), kPacketSize);
    s.programme.in_use = 1;
}

// A new PMT version reaches a slot that carries it.
void apply_pmt_version(OutputStream& s, const ProgramEntry& row, const PmtStreams& streams) {
    s.programme.previous_video_pid = s.programme.video_pid != -1 ? s.programme.video_pid : (row.es_count > 0 ? row.es_pids[0] : -1);
    s.programme.previous_audio_pid = s.programme.first_audio_pid;
    s.programme.video_pid = streams.video_pid;
    s.programme.first_audio_pid = streams.first_audio_pid;
    s.programme.audio_pids = streams.audio_pids;
    s.programme.es_pids = row.es_pids;
    s.programme.es_count = row.es_count;
    s.programme.pcr_pid = own_pcr_pid(row.pcr_pid, row.es_pids, row.es_count);
}

constexpr std::uint32_t slot_bit(int slot) { return std::uint32_t{1} << slot; }

// Start values of a slot whose programme is assigned anew; its clocks and audio tracking start
// afresh too (reported).
void reset_assigned_slot(RunState& run, int slot, PacketReport& report) {
    OutputStream& s = slot_at(run, slot);
    report.reassigned |= slot_bit(slot);
    s.programme.video_pid = -1;
    s.programme.first_audio_pid = -1;
    s.programme.audio_pids.fill(-1);
}

// Adds an ECM PID to the row and hands the row's list to the slot that carries its service.
void add_ecm_pid(RunState& run, ProgramEntry& row, int pid) {
    add_unique(row.ecm_pids.data(), kMaxCaPids, pid);
    for (auto& s : run.outputs) {
        if (s.programme.in_use && s.programme.service_id == row.program_number) {
            s.programme.ecm_pids = row.ecm_pids;
            return;
        }
    }
}

// A row takes part in classification and slot assignment when its PMT listed a kept stream.
// A row whose PMT is still missing blocks the decision (returns false through `blocked`).
bool row_active(const ProgramEntry& row) { return row.es_count > 0; }
bool row_blocking(const ProgramEntry& row) { return row.es_count == 0 && !row.pmt_parsed; }

void classify_normal(RunState& run, PacketReport& report) {
    ProgramTables& t = run.tables;
    int first = -1;
    for (int i = 0; i < t.count; ++i) {
        const ProgramEntry& row = t.entries[static_cast<std::size_t>(i)];
        if (row_blocking(row)) return;
        if (first < 0 && row_active(row)) first = i;
    }
    if (first < 0) return;  // every PMT arrived, none lists a stream we keep
    const int first_es = t.entries[static_cast<std::size_t>(first)].es_pids[0];

    bool shared = true;
    int carrier = first;  // the active row with the smallest PMT PID
    for (int i = first; i < t.count; ++i) {
        const ProgramEntry& row = t.entries[static_cast<std::size_t>(i)];
        if (!row_active(row)) continue;
        if (row.es_pids[0] != first_es) shared = false;
        if (row.pmt_pid < t.entries[static_cast<std::size_t>(carrier)].pmt_pid) carrier = i;
    }

    if (shared) {
        t.service_mode = MODE_SINGLE;
        report.service_mode = MODE_SINGLE;
        if (slot_at(run, kSlotHd).programme.in_use) return;
        reset_assigned_slot(run, kSlotHd, report);
        for (int i = 0; i < t.count; ++i) {
            t.entries[static_cast<std::size_t>(i)].last_event_id = -1;
            t.entries[static_cast<std::size_t>(i)].last_pmt_version = -1;
        }
        for (int k = kFirstMultiSlot; k < kSlotCount; ++k) slot_at(run, k).programme.in_use = 0;
        fill_slot(slot_at(run, kSlotHd), t.entries[static_cast<std::size_t>(carrier)]);
        return;
    }

    t.service_mode = MODE_MULTI;
    report.service_mode = MODE_MULTI;
    if (slot_at(run, kFirstMultiSlot).programme.in_use) return;
    for (int i = 0; i < t.count; ++i) {
        t.entries[static_cast<std::size_t>(i)].last_event_id = -1;
        t.entries[static_cast<std::size_t>(i)].last_pmt_version = -1;
    }
    for (int k = kFirstMultiSlot; k < kSlotCount; ++k) reset_assigned_slot(run, k, report);
    slot_at(run, kSlotHd).programme.in_use = 0;

    // PAT order: SD1 is the first service, SD2 the next one with other streams, and so on. Rows
    // sharing their first stream with an earlier slot join it; the slot then carries the PMT with
    // the smallest PID of its rows, and the service that PMT belongs to.
    int next = kFirstMultiSlot;
    for (int i = first; i < t.count; ++i) {
        const ProgramEntry& row = t.entries[static_cast<std::size_t>(i)];
        if (!row_active(row)) continue;
        int joined = -1;
        for (int k = kFirstMultiSlot; k < next; ++k)
            if (slot_at(run, k).programme.es_pids[0] == row.es_pids[0]) {
                joined = k;
                break;
            }
        if (joined >= 0) {
            if (row.pmt_pid < slot_at(run, joined).programme.pmt_pid) fill_slot(slot_at(run, joined), row);
            continue;
        }
        if (next >= kSlotCount) continue;
        fill_slot(slot_at(run, next), row);
        ++next;
    }
    // Slots left over from an earlier assignment must not hide streams from the routing.
    for (int k = next; k < kSlotCount; ++k) slot_at(run, k).programme.es_count = 0;
}

bool cs_service_selected(const Options& o, int program_number) {
    if (o.cs_service_count == 0) return true;
    for (int i = 0; i < o.cs_service_count && i < kMaxOptionValues; ++i)
        if (o.cs_services[static_cast<std::size_t>(i)] == program_number) return true;
    return false;
}

void classify_cs(RunState& run, int row_index, const PmtStreams& streams, PacketReport& report) {
    ProgramTables& t = run.tables;
    const ProgramEntry& row = t.entries[static_cast<std::size_t>(row_index)];
    if (!row_active(row) || !cs_service_selected(run.options, row.program_number)) return;
    t.service_mode = MODE_MULTI;
    report.service_mode = MODE_MULTI;
    if (!slot_at(run, kFirstMultiSlot).programme.in_use) slot_at(run, kSlotHd).programme.in_use = 0;
    int target = -1;
    bool joined = false;
    for (int k = kFirstMultiSlot; k < kSlotCount; ++k) {
        OutputStream& s = slot_at(run, k);
        if (!s.programme.in_use) {
            target = k;
            break;
        }
        if (s.programme.es_count > 0 && s.programme.es_pids[0] == row.es_pids[0]) {
            target = k;
            joined = true;
            break;
        }
    }
    if (target < 0) return;
    OutputStream& s = slot_at(run, target);

    // Services sharing their streams keep one slot, fed from the one with the smallest PMT PID for
    // the whole input: after each PAT the other service's PMT may come first, while the slot's own
    // is awaited again, and must neither take the slot over nor reach its file.
    const ProgramEntry* source = &row;
    if (joined && s.programme.pmt_pid != 0 && s.programme.pmt_pid < row.pmt_pid) {
        const int own = find_pmt_row(t, s.programme.pmt_pid);
        if (own < 0 || !row_active(t.entries[static_cast<std::size_t>(own)])) return;
        source = &t.entries[static_cast<std::size_t>(own)];
    }
    const bool fresh = !s.programme.in_use;
    const int old_service = s.programme.service_id;
    fill_slot(s, *source);
    if (fresh) {
        // The PMT that assigned the slot was parsed before the slot existed; take its streams now.
        reset_assigned_slot(run, target, report);
        apply_pmt_version(s, *source, streams);
        s.programme.previous_video_pid = -1;
    } else if (source == &row) {
        // A refill from the PMT just parsed takes its streams as well, so CS outputs know their
        // video and audio like the others do (GOP labels, audio splits).
        s.programme.video_pid = streams.video_pid;
        s.programme.first_audio_pid = streams.first_audio_pid;
        s.programme.audio_pids = streams.audio_pids;
    }
    // The CS slot's file name carries the service id.
    if (fresh || s.programme.service_id != old_service) report.renamed |= slot_bit(target);
}

}  // namespace

void reset_tables(ProgramTables& tables) { tables = ProgramTables{}; }

void note_pcr_pid(TimingState& timing, int entry, int pcr_pid) {
    if (entry < 0 || entry >= kPcrPidEntries) return;
    timing.pcr_pids[static_cast<std::size_t>(entry)] = pcr_pid == kNullPid ? 0 : pcr_pid;
}

int find_pmt_row(const ProgramTables& tables, int pid) {
    for (int i = 0; i < tables.count; ++i)
        if (tables.entries[static_cast<std::size_t>(i)].pmt_pid == pid) return i;
    return -1;
}

bool cs_pmts_pending(const RunState& run) {
    const ProgramTables& t = run.tables;
    for (int i = 0; i < t.count; ++i) {
        const ProgramEntry& row = t.entries[static_cast<std::size_t>(i)];
        if (!row.pmt_parsed && cs_service_selected(run.options, row.program_number)) return true;
    }
    return false;
}

void pat_table_work(RunState& run, const std::uint8_t* packet, PacketReport& report) {
    ProgramTables& t = run.tables;
    std::memcpy(t.pat_header_template.data(), packet, t.pat_header_template.size());
    if (section_table_id(packet) != kPatTableId) return;

    t.count = 0;
    // transport_stream_id 0x6000-0x63FF and 0x7000-0x73FF are CS broadcasts.
    const int tsid_high = packet[8];
    if (((tsid_high >> 4) == 0x6 || (tsid_high >> 4) == 0x7) && (tsid_high & 0x0F) <= 3 && !run.options.cs_mode)
        report.cs_detected = 1;

    const int end = section_end(packet);
    int previous_kept = -1;
    for (int pos = kPatFirstEntry; pos < end && pos + 4 <= kPacketSize; pos += 4) {
        const int program_number = (packet[pos] << 8) | packet[pos + 1];
        const int pmt_pid = pid13(packet + pos + 2);
        if (program_number == 0) continue;  // the network PID
        const bool kept = t.count < kMaxPrograms &&
                          (t.count == 0 || run.options.cs_mode || program_number == previous_kept + 1);
        if (kept) {
            ProgramEntry& row = t.entries[static_cast<std::size_t>(t.count++)];
            row.program_number = program_number;
            row.pmt_pid = pmt_pid;
            row.es_count = 0;
            row.es_pids.fill(0);
            row.pmt_parsed = 0;
            previous_kept = program_number;
            continue;
        }
        // ISDB-T one-segment services sit on fixed PMT PIDs beside the main services.
        if (pmt_pid == kOneSegPmtPid && slot_at(run, kSlotOneSeg).file.enabled) {
            slot_at(run, kSlotOneSeg).programme.service_id = program_number;
            slot_at(run, kSlotOneSeg).programme.pmt_pid = pmt_pid;
            report.oneseg_found = 1;
        } else if (pmt_pid == kOneSeg2PmtPid && slot_at(run, kSlotOneSeg2).file.enabled) {
            slot_at(run, kSlotOneSeg2).programme.service_id = program_number;
            slot_at(run, kSlotOneSeg2).programme.pmt_pid = pmt_pid;
            report.oneseg_found = 1;
        }
    }
}

void cat_table_work(ProgramTables& tables, const std::uint8_t* packet) {
    if (section_table_id(packet) != kCatTableId) return;
    for_each_descriptor(packet, kCatFirstDescriptor, section_end(packet),
                        [&](int tag, const std::uint8_t* d, int length) {
                            if (tag == kCaDescriptorTag && length >= 4)
                                add_unique(tables.emm_pids.data(), kMaxCaPids, ca_pid(d));
                        });
}

bool pmt_table_work(RunState& run, int row_index, const std::uint8_t* packet, PmtStreams& streams,
                    PacketReport& report) {
    if (section_table_id(packet) != kPmtTableId) return false;
    const int end = section_end(packet);
    if (end < kPmtFirstDescriptor) return false;  // too short to hold the fixed fields

    ProgramTables& t = run.tables;
    ProgramEntry& row = t.entries[static_cast<std::size_t>(row_index)];
    const int version = section_version(packet);
    row.pcr_pid = pid13(packet + kPmtPcrPid);
    note_pcr_pid(run.timing, row_index, row.pcr_pid);
    row.pmt_parsed = 1;
    const int program_info_end = kPmtFirstDescriptor + length12(packet + kPmtProgramInfoLength);

    bool first_ca = true;
    for_each_descriptor(packet, kPmtFirstDescriptor, program_info_end < end ? program_info_end : end,
                        [&](int tag, const std::uint8_t* d, int length) {
                            if (tag != kCaDescriptorTag || length < 4 || !first_ca) return;
                            first_ca = false;
                            add_ecm_pid(run, row, ca_pid(d));
                        });

    streams = PmtStreams{};
    for (int pos = program_info_end; pos + 5 <= end;) {
        const int stream_type = packet[pos];
        const int pid = pid13(packet + pos + 1);
        const int info_end = pos + 5 + length12(packet + pos + 3);
        const int descriptors_end = info_end < end ? info_end : end;
        const int next = info_end;
        if (stream_type != kStreamTypeDataCarousel) {
            bool low_quality_layer = false;
            for_each_descriptor(packet, pos + 5, descriptors_end, [&](int tag, const std::uint8_t* d, int length) {
                if (tag == kHierarchicalDescriptorTag && length >= 3) {
                    if ((d[2] & 0x01) == 0 && pid13(d + 3) != kNoPid) low_quality_layer = true;
                } else if (tag == kCaDescriptorTag && length >= 4) {
                    add_ecm_pid(run, row, ca_pid(d));
                }
            });
            if (!low_quality_layer) {
                // A repeated PMT lists the same streams again; they are kept once.
                if (row.es_count < kMaxEsPids && !contains(row.es_pids.data(), row.es_count, pid))
                    row.es_pids[static_cast<std::size_t>(row.es_count++)] = pid;
                if (streams.video_pid < 0 && (stream_type == kStreamTypeMpeg1Video || stream_type == kStreamTypeMpeg2Video ||
                                                 stream_type == kStreamTypeMpeg4Video))
                    streams.video_pid = pid;
                if (stream_type == kStreamTypeAdtsAac && streams.audio_count < kMaxAudioPids) {
                    streams.audio_pids[static_cast<std::size_t>(streams.audio_count++)] = pid;
                    if (streams.first_audio_pid < 0) streams.first_audio_pid = pid;
                }
            }
        }
        pos = next;
    }

    if (version != row.last_pmt_version) {
        std::memcpy(row.pmt_packet.data(), packet, kPacketSize);
        row.has_pmt_packet = 1;
        const int pmt_pid = row.pmt_pid;
        for (int k = 0; k < kSlotCount; ++k) {
            OutputStream& s = slot_at(run, k);
            if (s.programme.pmt_pid != pmt_pid) continue;
            std::memcpy(s.programme.last_pmt_packet.data(), packet, kPacketSize);
            if (!s.programme.in_use) continue;
            apply_pmt_version(s, row, streams);
            // The first version since the row was named is no change.
            if (row.last_pmt_version != -1) report.pmt_changed |= slot_bit(k);
        }
        row.last_pmt_version = version;
    }
    return true;
}

void classify_services(RunState& run, int row_index, const PmtStreams& streams, PacketReport& report) {
    if (run.options.cs_mode)
        classify_cs(run, row_index, streams, report);
    else
        classify_normal(run, report);
}

void oneseg_pmt_work(RunState& run, int slot, const std::uint8_t* packet, PacketReport& report) {
    if (section_table_id(packet) != kPmtTableId) return;
    const int end = section_end(packet);
    if (end < kPmtFirstDescriptor) return;

    // A programme-table row on a one-segment PMT PID (CS mode keeps every PAT entry as a row) has
    // its PMT parsed here: it must count as seen, or the wait for every PMT never ends.
    const int row = find_pmt_row(run.tables, slot == kSlotOneSeg ? kOneSegPmtPid : kOneSeg2PmtPid);
    if (row >= 0) run.tables.entries[static_cast<std::size_t>(row)].pmt_parsed = 1;

    OutputStream& s = slot_at(run, slot);
    const int pcr_pid = pid13(packet + kPmtPcrPid);
    note_pcr_pid(run.timing, kPcrPidOneSegEntry + slot - kSlotOneSeg, pcr_pid);  // -PTS renumbers its clock
    s.programme.es_count = 0;
    s.programme.pcr_pid = pcr_pid == kNoPid ? 0 : pcr_pid;
    s.programme.audio_pids.fill(-1);
    report.clocks_reset |= slot_bit(slot);

    int first_audio_pid = -1;
    int audio_count = 0;
    for (int pos = kPmtFirstDescriptor + length12(packet + kPmtProgramInfoLength); pos + 5 <= end;
         pos += 5 + length12(packet + pos + 3)) {
        const int stream_type = packet[pos];
        const int pid = pid13(packet + pos + 1);
        if (stream_type == kStreamTypeDataCarousel) continue;
        if (s.programme.es_count < kMaxEsPids && !contains(s.programme.es_pids.data(), s.programme.es_count, pid))
            s.programme.es_pids[static_cast<std::size_t>(s.programme.es_count++)] = pid;
        if (pid == s.programme.pcr_pid) s.programme.pcr_pid = 0;
        if (stream_type == kStreamTypeAdtsAac && audio_count < kMaxAudioPids) {
            s.programme.audio_pids[static_cast<std::size_t>(audio_count++)] = pid;
            if (first_audio_pid < 0) first_audio_pid = pid;
        }
    }
    s.programme.in_use = 1;
    // A second one-segment PMT describing the same service as the first gives no second file.
    const OutputStream& first = slot_at(run, kSlotOneSeg);
    if (slot == kSlotOneSeg2 && first.programme.es_count > 0 && s.programme.es_count > 0 && s.programme.es_pids[0] == first.programme.es_pids[0])
        s.programme.in_use = 0;

    int& remembered = run.tables.oneseg_pmt_version[static_cast<std::size_t>(slot - kSlotOneSeg)];
    const int version = section_version(packet);
    if (version != remembered) {
        if (run.options.split_on_pmt) {
            s.programme.first_audio_pid = first_audio_pid;
            if (remembered != -1) report.pmt_changed |= slot_bit(slot);
        }
        remembered = version;
    }
}

}  // namespace quill
