#include "stream/routes.h"

namespace quill {

namespace {

constexpr std::uint32_t slot_bit(int slot) { return std::uint32_t{1} << slot; }

// Every entry touched since the last reset, so that the next build clears only those.
PidRoute& touch(RouteTable& table, int pid) {
    PidRoute& route = table.pids[static_cast<std::size_t>(pid)];
    if (route.role == PidRole::Drop && route.slots == 0) table.set_pids.push_back(pid);
    return route;
}

void assign(RouteTable& table, int pid, PidRole role, int slot = 0, int row = 0) {
    if (pid < 0 || pid >= kPidCount) return;
    PidRoute& route = touch(table, pid);
    route.role = role;
    route.slot = static_cast<std::uint8_t>(slot);
    route.row = static_cast<std::uint8_t>(row);
    route.slots = route.pcr_slots = route.ecm_slots = route.stream_slots = 0;
}

// A main output's slot takes part in the packets of `pid`, and what the PID is to it (`as`: one
// of the PidRoute sets, or null for the PIDs its GOP and audio detection watch).
void add_main(RouteTable& table, int pid, int slot, std::uint32_t PidRoute::*as) {
    if (pid < 0 || pid >= kPidCount) return;
    PidRoute& route = touch(table, pid);
    route.role = PidRole::Main;
    route.slots |= slot_bit(slot);
    if (as) route.*as |= slot_bit(slot);
}

// Lists whose first free entry is 0 (ECM and EMM PIDs).
template <typename Each>
void for_listed(const std::array<int, kMaxCaPids>& list, Each each) {
    for (int pid : list) {
        if (pid == 0) return;
        each(pid);
    }
}

// Every PID a main slot does something with: its own PCR PID, its ECM PIDs (-ECM), the PIDs of
// its GOP and audio detection, and its elementary streams.
void add_main_slot(RouteTable& table, const Options& o, const OutputStream& s, int slot) {
    const SlotProgramme& p = s.programme;
    if (p.pcr_pid != 0) add_main(table, p.pcr_pid, slot, &PidRoute::pcr_slots);
    if (o.keep_ecm) for_listed(p.ecm_pids, [&](int pid) { add_main(table, pid, slot, &PidRoute::ecm_slots); });
    if (p.first_audio_pid >= 0) add_main(table, p.first_audio_pid, slot, nullptr);
    for (int i = 0; i < p.es_count && i < kMaxEsPids; ++i)
        add_main(table, p.es_pids[static_cast<std::size_t>(i)], slot, &PidRoute::stream_slots);
}

void build(RunState& run) {
    RouteTable& table = run.routes;
    const Options& o = run.options;
    const ProgramTables& t = run.tables;
    for (int pid : table.set_pids) table.pids[static_cast<std::size_t>(pid)] = PidRoute{};
    table.set_pids.clear();

    // From the weakest claim to the strongest: each later one takes the PID over.
    if (t.service_mode == MODE_SINGLE) {
        add_main_slot(table, o, run.outputs[kSlotHd], kSlotHd);
    } else {
        // SD and CS slots in order up to the first that lists no stream.
        for (int k = kFirstMultiSlot; k < kSlotCount; ++k) {
            const OutputStream& s = run.outputs[static_cast<std::size_t>(k)];
            if (s.programme.es_count == 0) break;
            add_main_slot(table, o, s, k);
        }
    }
    // One-segment slots: the first one naming the PID decides, its PCR PID before its streams.
    for (int k = kSlotOneSeg2; k >= kSlotOneSeg; --k) {
        const OutputStream& s = run.outputs[static_cast<std::size_t>(k)];
        if (!s.programme.in_use) continue;
        for (int i = 0; i < s.programme.es_count && i < kMaxEsPids; ++i)
            assign(table, s.programme.es_pids[static_cast<std::size_t>(i)], PidRole::OneSegStream, k);
        if (s.programme.pcr_pid != 0) assign(table, s.programme.pcr_pid, PidRole::OneSegPcr);
    }
    // PMTs: the first row naming the PID.
    for (int i = t.count - 1; i >= 0; --i) assign(table, t.entries[static_cast<std::size_t>(i)].pmt_pid, PidRole::Pmt, 0, i);
    if (o.keep_emm) for_listed(t.emm_pids, [&](int pid) { assign(table, pid, PidRole::Emm); });

    assign(table, kPatPid, PidRole::Pat);
    assign(table, kCatPid, PidRole::Cat);
    assign(table, kNitPid, PidRole::Nit);
    assign(table, kSdtPid, PidRole::Sdt);
    assign(table, kEitPid, PidRole::Eit);
    assign(table, kTotPid, PidRole::Tot);
    assign(table, kOneSegPmtPid, PidRole::OneSegPmt, kSlotOneSeg);
    assign(table, kOneSeg2PmtPid, PidRole::OneSegPmt, kSlotOneSeg2);
    assign(table, kNullPid, PidRole::Null);

    if (o.keep_pids_active) {
        for (int i = 0; i < o.keep_pid_count && i < kMaxOptionValues; ++i) {
            const int pid = static_cast<int>(o.keep_pids[static_cast<std::size_t>(i)]);
            if (pid >= o.keep_pid_min && pid <= o.keep_pid_max) assign(table, pid, PidRole::KeptByOption);
        }
    }
    table.stale = false;
}

}  // namespace

void refresh_routes(RunState& run) {
    if (run.routes.stale) build(run);
}

}  // namespace quill
