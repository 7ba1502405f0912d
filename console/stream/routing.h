// The per-packet decision: table work, then which output slots receive the current packet.
#pragma once

namespace quill {

struct RunState;

struct PacketReport {
    int service_mode = -1;      // the service mode after this packet
    int oneseg_found = 0;       // this PAT assigned a one-segment slot
    int assignment_notice = 0;  // 1: a PAT was processed; 3: slots were (re)assigned
    int multi_path = 0;         // the packet reached the SD/CS routing
};

// Routes the job's current packet. -1 when a write failed (the job stops the input), else >= 0.
long long process_packet(RunState& run, int pid, PacketReport& report, int keep_eit, int keep_ecm);

}  // namespace quill
