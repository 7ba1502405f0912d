// The per-packet decision: table work, then which output slots receive the current packet.
#pragma once

#include "tables.h"

namespace quill {

struct RunState;

// Routes the job's current packet. -1 when a write failed (the job stops the input), else >= 0.
long long process_packet(RunState& run, int pid, PacketReport& report, int keep_eit, int keep_ecm);

}  // namespace quill
