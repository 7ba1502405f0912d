#include "routing.h"

#include "hooks.h"
#include "run_state.h"
#include "ts_packet.h"
#include "writer.h"

namespace quill {

long long process_packet(RunState& run, int pid, PacketReport& report, int /*keep_eit*/, int /*keep_ecm*/) {
    const Options& o = run.options;
    std::uint8_t* packet = run.job.current;
    report.service_mode = run.tables.service_mode;
    report.oneseg_found = 0;

    if (pid == 0x0014) capture_broadcast_time(run);

    // Only-mode: -NULL, or any -GOPONLY variant.
    if (o.null_only) {
        if (pid == kNullPid && !o.gop_only) return 0;
        if (o.gop_list && pid >= 0x0030 && pid <= 0x1FFE) {
            if (run.outputs[kSlotHd].enabled) gop_packet(run, kSlotHd);
            if (o.gop_channel || o.gop_time) audio_packet(run, kSlotHd);
        }
        return write_packet(run, run.outputs[kSlotHd], packet, 1);
    }
    return 0;
}

}  // namespace quill
