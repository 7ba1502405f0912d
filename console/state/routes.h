// Where the packets of each PID go, looked up once per packet (job/dispatch). The table is flat,
// indexed by PID, because it is consulted for every packet of a recording; stream/routes builds it
// anew whenever the programme tables or the slot assignment change what goes where.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "state/mpeg.h"

namespace quill {

enum class PidRole : std::uint8_t {
    Drop,           // nothing takes it
    KeptByOption,   // listed by -PID: the table work it needs, then the HD output
    Pat,            // 0x0000: table work, a generated PAT for every output
    Cat,            // 0x0001: under -EMM table work and every main output
    Nit,            // kept by -EIT or -ECM
    Sdt,            // kept by -EIT
    Eit,            // programme splits (-SEP), kept by -EIT
    Tot,            // broadcast time, kept by -EIT
    OneSegPmt,      // 0x1FC8/0x1FC9: the one-segment slot `slot`
    Null,           // 0x1FFF
    Emm,            // an EMM PID of the CAT, under -EMM: every main output
    Pmt,            // the PMT of programme-table row `row`
    OneSegPcr,      // the PCR PID of a one-segment slot: every slot that names it its PCR PID
    OneSegStream,   // an elementary stream of one-segment slot `slot` (and its PCR owners)
    Main,           // the HD slot (single mode) or the SD/CS slots in `slots` (multi mode)
};

struct PidRoute {
    PidRole role = PidRole::Drop;
    std::uint8_t slot = 0;     // OneSegPmt, OneSegStream
    std::uint8_t row = 0;      // Pmt
    // Main: bit k for slot k. `slots` holds every slot that does anything with the PID; the others
    // say what the PID is to it: its own PCR PID, one of its ECM PIDs (-ECM), one of its streams.
    std::uint32_t slots = 0;
    std::uint32_t pcr_slots = 0;
    std::uint32_t ecm_slots = 0;
    std::uint32_t stream_slots = 0;
};

struct RouteTable {
    std::array<PidRoute, kPidCount> pids{};
    std::vector<int> set_pids;  // the PIDs the last build gave a route, reset by the next one
    bool stale = true;          // the tables or the assignment changed since the last build
};

}  // namespace quill
