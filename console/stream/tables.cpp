#include "stream/tables.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "state/run_state.h"
#include "stream/psi.h"
#include "stream/ts_packet.h"

namespace quill {

namespace {

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

// The PCR PID the slot has to route on its own: 0 when the PCR rides on one of the slot's
// elementary PIDs, or when the PMT names none (0x1FFF, which would otherwise catch null packets).
int own_pcr_pid(int pcr_pid, const std::array<int, kMaxEsPids>& es_pids, int es_count) {
    if (pcr_pid == kNullPid) return 0;
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
    PatSection pat;
    if (!parse_pat(packet, pat)) return;

    t.count = 0;
    if (is_cs_transport_stream(pat.transport_stream_id) && !run.options.cs_mode) report.cs_detected = 1;
    int previous_kept = -1;
    for (int i = 0; i < pat.count; ++i) {
        const int program_number = pat.entries[static_cast<std::size_t>(i)].program_number;
        const int pmt_pid = pat.entries[static_cast<std::size_t>(i)].pid;
        if (program_number == 0) continue;  // the network PID
        // The main services are numbered one after the other (CS services are all kept).
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
        const int slot = pmt_pid == kOneSegPmtPid ? kSlotOneSeg : pmt_pid == kOneSeg2PmtPid ? kSlotOneSeg2 : -1;
        if (slot < 0 || !slot_at(run, slot).file.enabled) continue;
        slot_at(run, slot).programme.service_id = program_number;
        slot_at(run, slot).programme.pmt_pid = pmt_pid;
        report.oneseg_found = 1;
    }
}

void cat_table_work(ProgramTables& tables, const std::uint8_t* packet) {
    CatSection cat;
    if (!parse_cat(packet, cat)) return;
    for (int i = 0; i < cat.count; ++i) add_unique(tables.emm_pids.data(), kMaxCaPids, cat.ca_pids[static_cast<std::size_t>(i)]);
}

namespace {

bool is_video(int stream_type) {
    return stream_type == kStreamTypeMpeg1Video || stream_type == kStreamTypeMpeg2Video ||
           stream_type == kStreamTypeMpeg4Video;
}

// The row's streams from its PMT: every stream but the data carousels and low-quality layers,
// once each (a repeated PMT lists them again); the first video and the AAC audio streams.
void take_streams(ProgramEntry& row, const PmtSection& pmt, PmtStreams& streams) {
    streams = PmtStreams{};
    for (int i = 0; i < pmt.stream_count; ++i) {
        const PmtSection::Stream& st = pmt.streams[static_cast<std::size_t>(i)];
        if (st.stream_type == kStreamTypeDataCarousel || st.low_quality_layer) continue;
        if (row.es_count < kMaxEsPids && !contains(row.es_pids.data(), row.es_count, st.pid))
            row.es_pids[static_cast<std::size_t>(row.es_count++)] = st.pid;
        if (streams.video_pid < 0 && is_video(st.stream_type)) streams.video_pid = st.pid;
        if (st.stream_type == kStreamTypeAdtsAac && streams.audio_count < kMaxAudioPids) {
            streams.audio_pids[static_cast<std::size_t>(streams.audio_count++)] = st.pid;
            if (streams.first_audio_pid < 0) streams.first_audio_pid = st.pid;
        }
    }
}

// A new PMT version reaches every slot fed by the row; only a version after an earlier one is a
// change (reported).
void take_pmt_version(RunState& run, ProgramEntry& row, int version, const std::uint8_t* packet,
                      const PmtStreams& streams, PacketReport& report) {
    std::memcpy(row.pmt_packet.data(), packet, kPacketSize);
    row.has_pmt_packet = 1;
    for (int k = 0; k < kSlotCount; ++k) {
        OutputStream& s = slot_at(run, k);
        if (s.programme.pmt_pid != row.pmt_pid) continue;
        std::memcpy(s.programme.last_pmt_packet.data(), packet, kPacketSize);
        if (!s.programme.in_use) continue;
        apply_pmt_version(s, row, streams);
        if (row.last_pmt_version != -1) report.pmt_changed |= slot_bit(k);
    }
    row.last_pmt_version = version;
}

}  // namespace

bool pmt_table_work(RunState& run, int row_index, const std::uint8_t* packet, PmtStreams& streams,
                    PacketReport& report) {
    PmtSection pmt;
    if (!parse_pmt(packet, pmt)) return false;
    ProgramEntry& row = run.tables.entries[static_cast<std::size_t>(row_index)];
    row.pcr_pid = pmt.pcr_pid;
    note_pcr_pid(run.timing, row_index, row.pcr_pid);
    row.pmt_parsed = 1;
    for (int i = 0; i < pmt.ecm_count; ++i) add_ecm_pid(run, row, pmt.ecm_pids[static_cast<std::size_t>(i)]);
    take_streams(row, pmt, streams);
    if (pmt.version != row.last_pmt_version) take_pmt_version(run, row, pmt.version, packet, streams, report);
    return true;
}

void classify_services(RunState& run, int row_index, const PmtStreams& streams, PacketReport& report) {
    if (run.options.cs_mode)
        classify_cs(run, row_index, streams, report);
    else
        classify_normal(run, report);
}

void oneseg_pmt_work(RunState& run, int slot, const std::uint8_t* packet, PacketReport& report) {
    PmtSection pmt;
    if (!parse_pmt(packet, pmt)) return;

    // A programme-table row on a one-segment PMT PID (CS mode keeps every PAT entry as a row) has
    // its PMT parsed here: it must count as seen, or the wait for every PMT never ends.
    const int row = find_pmt_row(run.tables, slot == kSlotOneSeg ? kOneSegPmtPid : kOneSeg2PmtPid);
    if (row >= 0) run.tables.entries[static_cast<std::size_t>(row)].pmt_parsed = 1;

    SlotProgramme& p = slot_at(run, slot).programme;
    note_pcr_pid(run.timing, kPcrPidOneSegEntry + slot - kSlotOneSeg, pmt.pcr_pid);  // -PTS renumbers its clock
    p.es_count = 0;
    p.pcr_pid = pmt.pcr_pid == kNullPid ? 0 : pmt.pcr_pid;
    p.audio_pids.fill(-1);
    report.clocks_reset |= slot_bit(slot);

    // Every stream but the data carousels; a PCR on one of them needs no routing of its own.
    int first_audio_pid = -1;
    int audio_count = 0;
    for (int i = 0; i < pmt.stream_count; ++i) {
        const PmtSection::Stream& st = pmt.streams[static_cast<std::size_t>(i)];
        if (st.stream_type == kStreamTypeDataCarousel) continue;
        if (p.es_count < kMaxEsPids && !contains(p.es_pids.data(), p.es_count, st.pid))
            p.es_pids[static_cast<std::size_t>(p.es_count++)] = st.pid;
        if (st.pid == p.pcr_pid) p.pcr_pid = 0;
        if (st.stream_type == kStreamTypeAdtsAac && audio_count < kMaxAudioPids) {
            p.audio_pids[static_cast<std::size_t>(audio_count++)] = st.pid;
            if (first_audio_pid < 0) first_audio_pid = st.pid;
        }
    }
    p.in_use = 1;
    // A second one-segment PMT describing the same service as the first gives no second file.
    const SlotProgramme& first = slot_at(run, kSlotOneSeg).programme;
    if (slot == kSlotOneSeg2 && first.es_count > 0 && p.es_count > 0 && p.es_pids[0] == first.es_pids[0]) p.in_use = 0;

    int& remembered = run.tables.oneseg_pmt_version[static_cast<std::size_t>(slot - kSlotOneSeg)];
    if (pmt.version != remembered) {
        if (run.options.split_on_pmt) {
            p.first_audio_pid = first_audio_pid;
            if (remembered != -1) report.pmt_changed |= slot_bit(slot);
        }
        remembered = pmt.version;
    }
}

}  // namespace quill
