// The per-packet dispatcher of the file job: hands each packet to the table work, acts on what the
// tables report (splits, assignment, CS detection) and routes the packet to its output slots,
// running the segmentation on the way (GOP detection, audio-mode tracking and splits).
#pragma once

#include "stream/tables.h"

namespace quill {

struct JobContext;

// Routes the job's current packet. -1 when a write failed (the job stops the input), else >= 0.
// An audio split's read-ahead may move the current packet to the start of the read buffer.
long long process_packet(JobContext& ctx, int pid, PacketReport& report);

}  // namespace quill
