// Builds the per-PID route table from the options, the programme tables and the slot assignment.
// The roles follow the order in which a packet's PID is examined: -PID first, then the PIDs with a
// fixed meaning, EMM PIDs, PMT PIDs, the one-segment slots, and last the main outputs.
#pragma once

#include "state/run_state.h"

namespace quill {

// Rebuilds run.routes when it is stale; cheap when it is not.
void refresh_routes(RunState& run);

}  // namespace quill
