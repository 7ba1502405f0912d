#include "job/dispatch.h"

#include <bit>
#include <cstring>

#include "job/file_job.h"
#include "job/job_context.h"
#include "output/naming.h"
#include "output/writer.h"
#include "segment/audio_split.h"
#include "segment/gop_list.h"
#include "segment/programme_split.h"
#include "segment/timing.h"
#include "stream/pes.h"
#include "stream/routes.h"
#include "stream/ts_packet.h"

namespace quill {

namespace {

OutputStream& slot_at(RunState& run, int slot) { return run.outputs[static_cast<std::size_t>(slot)]; }

long long write_live(RunState& run, int slot, const std::uint8_t* packet) {
    return write_packet(run, slot_at(run, slot), packet, 1);
}

// Tables kept by -EIT, -ECM and -EMM go to the HD output and to every SD/CS output that takes
// packets; the one-segment outputs carry only their own service.
long long write_to_every_output(RunState& run, const std::uint8_t* packet) {
    long long result = 0;
    for (int k = 0; k < kSlotCount; ++k) {
        if (k == kSlotOneSeg || k == kSlotOneSeg2) continue;
        const long long r = write_live(run, k, packet);
        if (r == -1) return -1;
        if (r > 0) result = r;
    }
    return result;
}

// A packet on the slot's own PCR PID, kept as the slot's latest PCR (a file started by an audio
// split begins with it).
long long write_pcr(RunState& run, int slot, const std::uint8_t* packet) {
    OutputStream& s = slot_at(run, slot);
    std::memcpy(s.parts.last_pcr_packet.data(), packet, kPacketSize);
    return write_packet(run, s, packet, 1);
}

// Every output whose programme names this PID as its PCR PID gets the packet, once. One PCR PID
// is often shared by a one-segment service and the HD or SD services beside it.
long long write_to_pcr_owners(RunState& run, int pid, const std::uint8_t* packet, int skip_slot) {
    long long result = 0;
    for (int k = 0; k < kSlotCount; ++k) {
        const OutputStream& s = slot_at(run, k);
        if (k == skip_slot || !s.programme.in_use || s.programme.pcr_pid == 0 || s.programme.pcr_pid != pid) continue;
        const long long r = write_pcr(run, k, packet);
        if (r == -1) return -1;
        if (r > 0) result = r;
    }
    return result;
}

// The received PAT is never written: each output gets a PAT naming only its own service.
long long write_generated_pat(RunState& run, int slot) { return write_own_pat(run, slot_at(run, slot), 1); }

long long route_pat(JobContext& ctx, const std::uint8_t* packet, PacketReport& report) {
    RunState& run = ctx.run;
    pat_table_work(run, packet, report);
    run.routes.stale = true;
    if (report.cs_detected) ctx.job.cs_detected = 1;
    const int mode = run.tables.service_mode;
    long long result = 0;
    if (mode == MODE_SINGLE) {
        result = write_generated_pat(run, kSlotHd);
        if (result == -1) return -1;
    }
    if (report.oneseg_found) {
        for (int k = kSlotOneSeg; k <= kSlotOneSeg2; ++k) {
            if (slot_at(run, k).programme.pmt_pid == 0) continue;
            result = write_generated_pat(run, k);
            if (result == -1) return -1;
        }
    }
    if (mode >= MODE_MULTI) {
        for (int k = kFirstMultiSlot; k < kSlotCount; ++k) {
            result = write_generated_pat(run, k);
            if (result == -1) return -1;
        }
    }
    return result;
}

// Slots named by a report's slot set, in slot order; -1 when any call failed.
template <typename Each>
long long for_each_slot(std::uint32_t set, Each each) {
    long long result = 0;
    for (int k = 0; k < kSlotCount; ++k)
        if (((set >> k) & 1u) != 0 && each(k) == -1) result = -1;
    return result;
}

// -SEP2/-SEP3: the slots whose PMT changed version are split.
long long split_on_pmt_changes(RunState& run, std::uint32_t changed) {
    if (!run.options.split_on_pmt) return 0;
    return for_each_slot(changed, [&](int k) {
        return (k == kSlotOneSeg || k == kSlotOneSeg2) ? check_oneseg_pmt_change(run, k) : check_pmt_change(run, k);
    });
}

// Slots given a programme anew start their clocks and audio tracking afresh; a CS slot whose
// service changed is named after it.
void apply_assignment(RunState& run, const PacketReport& report) {
    for_each_slot(report.reassigned, [&](int k) {
        restart_audio_parts(run, k);
        reset_slot_clocks(slot_at(run, k));
        return 0;
    });
    for_each_slot(report.renamed, [&](int k) {
        OutputStream& s = slot_at(run, k);
        s.file.path = slot_file_path(run, k, s.split.split_number);
        return 0;
    });
}

// A PMT of programme-table row `row`: the table work, the splits its new version causes, then the
// service classification and what it assigned. -1 when a split failed to write.
long long pmt_work(RunState& run, int row, const std::uint8_t* packet, PacketReport& report) {
    PmtStreams streams;
    if (!pmt_table_work(run, row, packet, streams, report)) return 0;
    run.routes.stale = true;
    if (split_on_pmt_changes(run, report.pmt_changed) == -1) return -1;
    classify_services(run, row, streams, report);
    apply_assignment(run, report);
    return 0;
}

// A PMT of a one-segment slot. -1 when a split failed to write.
long long oneseg_pmt(RunState& run, int slot, const std::uint8_t* packet, PacketReport& report) {
    oneseg_pmt_work(run, slot, packet, report);
    run.routes.stale = true;
    if (report.clocks_reset != 0) reset_slot_clocks(slot_at(run, slot));
    return split_on_pmt_changes(run, report.pmt_changed);
}

// The table work a PID kept by -PID still needs, so that keeping a table never hides it.
long long table_work_only(RunState& run, int pid, const std::uint8_t* packet, PacketReport& report) {
    if (pid == kCatPid) {
        if (run.options.keep_emm) {
            cat_table_work(run.tables, packet);
            run.routes.stale = true;
        }
        return 0;
    }
    if (pid == kOneSegPmtPid) return oneseg_pmt(run, kSlotOneSeg, packet, report);
    if (pid == kOneSeg2PmtPid) return oneseg_pmt(run, kSlotOneSeg2, packet, report);
    const int row = find_pmt_row(run.tables, pid);
    return row >= 0 ? pmt_work(run, row, packet, report) : 0;
}

// A PMT of programme-table row `row`: its table work, then the slot whose PMT it is takes it (in
// multi mode that slot is remembered as the one that received the last PMT).
long long route_pmt(RunState& run, int row, int pid, const std::uint8_t* packet, PacketReport& report) {
    ProgramTables& t = run.tables;
    if (pmt_work(run, row, packet, report) == -1) return -1;
    if (t.service_mode == MODE_SINGLE) return pid == slot_at(run, kSlotHd).programme.pmt_pid ? write_live(run, kSlotHd, packet) : 0;
    if (t.service_mode >= MODE_MULTI) {
        for (int k = kFirstMultiSlot; k < kSlotCount; ++k) {
            if (!slot_at(run, k).programme.in_use || slot_at(run, k).programme.pmt_pid != pid) continue;
            t.service_mode = k;
            return write_live(run, k, packet);
        }
    }
    return 0;
}

// The audio hook of a slot. A change of the channel mode is confirmed by what follows in the
// input, read ahead into the read buffer (the current packet moves to the buffer's start). -1 when
// the split failed to write.
long long audio_hook(JobContext& ctx, int slot) {
    RunState& run = ctx.run;
    const AudioChange change = audio_split_audio_packet(run, slot, ctx.job.current);
    if (!change.pending) return 0;
    const std::uint8_t* packet = read_ahead(ctx);
    const int unit = ctx.job.unit_size > 0 ? ctx.job.unit_size : kPacketSize;
    const int later = next_adts_mode(packet + unit, ctx.job.end, unit, slot_at(run, slot).programme.first_audio_pid);
    return audio_split_confirm(run, slot, packet, change, later);
}

// GOP detection on the slot's first elementary PID, audio tracking (and splits) on its first audio
// PID. -1 when an audio split failed to write.
long long run_stream_hooks(JobContext& ctx, int slot, int pid) {
    RunState& run = ctx.run;
    const Options& o = run.options;
    const OutputStream& s = slot_at(run, slot);
    if ((o.gop_list || o.audio_split > 0 || o.split_on_programme || o.split_on_pmt) && s.programme.es_count > 0 &&
        pid == s.programme.es_pids[0] && s.file.enabled)
        gop_list_packet(run, slot, ctx.job.current, 1);
    if ((o.audio_split > 0 || o.gop_channel || o.gop_time) && pid == s.programme.first_audio_pid) return audio_hook(ctx, slot);
    return 0;
}

bool has(std::uint32_t slots, int slot) { return ((slots >> slot) & 1u) != 0; }

// Whether the GOP or the audio detection of the slot watches the PID (run_stream_hooks decides).
bool hooks_watch(const OutputStream& s, int pid) {
    return (s.programme.es_count > 0 && pid == s.programme.es_pids[0]) || pid == s.programme.first_audio_pid;
}

// While an audio split of the slot waits for the next GOP start, a packet may be held back: 1 when
// it is, 0 when routing goes on, -1 when a write failed.
long long held_by_audio_split(RunState& run, int slot, const std::uint8_t* packet) {
    return slot_at(run, slot).parts.wait_trace_due ? audio_split_hold(run, slot, packet) : 0;
}

long long route_single(JobContext& ctx, int pid, const std::uint8_t* packet, const PidRoute& route) {
    RunState& run = ctx.run;
    const OutputStream& s = slot_at(run, kSlotHd);
    if (!s.programme.in_use) return 0;
    if (has(route.pcr_slots, kSlotHd)) return write_pcr(run, kSlotHd, packet);
    if (has(route.ecm_slots, kSlotHd)) return write_live(run, kSlotHd, packet);
    if (hooks_watch(s, pid) && run_stream_hooks(ctx, kSlotHd, pid) == -1) return -1;
    packet = ctx.job.current;  // an audio split's look-ahead may have moved the read buffer
    const long long taken = held_by_audio_split(run, kSlotHd, packet);
    if (taken != 0) return taken == -1 ? -1 : 0;
    return has(route.stream_slots, kSlotHd) ? write_live(run, kSlotHd, packet) : 0;
}

// The SD and CS slots of the route, in order. A shared PCR or ECM PID reaches every slot naming
// it; an elementary PID listed by several slots goes to the lowest-numbered one that takes packets.
long long route_multi(JobContext& ctx, int pid, const std::uint8_t* packet, const PidRoute& route) {
    RunState& run = ctx.run;
    long long result = 0;
    for (std::uint32_t left = route.slots; left != 0; left &= left - 1) {
        const int k = std::countr_zero(left);
        const OutputStream& s = slot_at(run, k);
        if (has(route.pcr_slots, k)) {
            result = write_pcr(run, k, packet);
            if (result == -1) return -1;
        }
        if (has(route.ecm_slots, k)) {
            result = write_live(run, k, packet);
            if (result == -1) return -1;
        }
        if (hooks_watch(s, pid) && run_stream_hooks(ctx, k, pid) == -1) return -1;
        packet = ctx.job.current;  // an audio split's look-ahead may have moved the read buffer
        const long long taken = held_by_audio_split(run, k, packet);
        if (taken == -1) return -1;
        if (taken > 0) return result;
        if (has(route.stream_slots, k) && s.file.enabled && s.programme.in_use) return write_live(run, k, packet);
    }
    return result;
}

long long route_packet(JobContext& ctx, int pid, PacketReport& report);

}  // namespace

long long process_packet(JobContext& ctx, int pid, PacketReport& report) {
    RunState& run = ctx.run;
    const long long result = route_packet(ctx, pid, report);
    // CS services take their slots one PMT at a time. The job's look-ahead pass ends once the mode
    // is reported decided, so report it only when every selected service has shown its PMT: each
    // CS file then holds its service from the start of the input, not only from its first PMT.
    if (run.options.cs_mode && report.service_mode != MODE_UNDECIDED && cs_pmts_pending(run))
        report.service_mode = MODE_UNDECIDED;
    return result;
}

namespace {

long long route_packet(JobContext& ctx, int pid, PacketReport& report) {
    RunState& run = ctx.run;
    const Options& o = run.options;
    const int keep_eit = o.keep_eit;
    const int keep_ecm = o.keep_ecm;
    ProgramTables& t = run.tables;
    const std::uint8_t* packet = ctx.job.current;
    report = PacketReport{};
    report.service_mode = t.service_mode;

    if (pid == kTotPid) capture_broadcast_time_of_day(run, packet);

    // Only-mode: -NULL, or any -GOPONLY variant.
    if (o.null_only) {
        if (pid == kNullPid && !o.gop_only) return 0;
        if (o.gop_list && pid >= 0x0030 && pid <= 0x1FFE) {
            if (slot_at(run, kSlotHd).file.enabled) gop_list_packet(run, kSlotHd, ctx.job.current, 1);
            if ((o.gop_channel || o.gop_time) && audio_hook(ctx, kSlotHd) == -1) return -1;
        }
        return write_live(run, kSlotHd, ctx.job.current);
    }

    refresh_routes(run);
    const PidRoute& route = run.routes.pids[static_cast<std::size_t>(pid)];
    switch (route.role) {
        case PidRole::Drop:
        case PidRole::Null:
            return 0;
        case PidRole::KeptByOption:
            if (table_work_only(run, pid, packet, report) == -1) return -1;
            return write_live(run, kSlotHd, packet);
        case PidRole::Pat:
            return route_pat(ctx, packet, report);
        case PidRole::Cat:
            if (!o.keep_emm) return 0;
            cat_table_work(t, packet);
            run.routes.stale = true;
            return write_to_every_output(run, packet);
        case PidRole::Nit:
            return (keep_eit || keep_ecm) ? write_to_every_output(run, packet) : 0;
        case PidRole::Sdt:
            return keep_eit ? write_to_every_output(run, packet) : 0;
        case PidRole::Eit:
            if (o.split_on_programme && check_programme_change(run, packet) == -1) return -1;
            return keep_eit ? write_to_every_output(run, packet) : 0;
        case PidRole::Tot:
            return keep_eit ? write_to_every_output(run, packet) : 0;
        case PidRole::OneSegPmt:
            if (oneseg_pmt(run, route.slot, packet, report) == -1) return -1;
            return write_live(run, route.slot, packet);
        case PidRole::Emm:
            return write_to_every_output(run, packet);
        case PidRole::Pmt:
            return route_pmt(run, route.row, pid, packet, report);
        case PidRole::OneSegPcr:
            return write_to_pcr_owners(run, pid, packet, -1);
        case PidRole::OneSegStream: {
            const long long r = write_live(run, route.slot, packet);
            if (r == -1) return -1;
            const long long shared = write_to_pcr_owners(run, pid, packet, route.slot);
            return shared == -1 ? -1 : r;
        }
        case PidRole::Main:
            if (t.service_mode == MODE_SINGLE) return route_single(ctx, pid, packet, route);
            return route_multi(ctx, pid, packet, route);
    }
    return 0;
}

}  // namespace

}  // namespace quill
