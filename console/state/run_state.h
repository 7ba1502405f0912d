// The records every layer of the console program shares for the whole run, owned by the job and
// passed by reference to every function that needs them.
#pragma once
#include <array>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "state/options.h"
#include "state/routes.h"
#include "state/slot.h"
#include "state/tables.h"
#include "state/timing.h"

namespace quill {

// The current input's file names and identities.
struct InputFiles {
    std::string drive, folder, base, ext;  // name parts of the outputs
    std::string summary_log_path;
    std::string tsselect_log_path;
    // Files the program only ever reads: the input being processed and the list files named with
    // -FLIST. No output, GOP list or log may be one of them, whatever name or link leads there.
    FileIdentity source_identity;
    std::vector<FileIdentity> list_files;
    // The spool of a piped input (beside the outputs): no output may land on it either.
    FileIdentity spool_identity;
    // Files opened by the current pass, and those opened by abandoned passes: a file that only an
    // abandoned pass wrote is removed at the end, so no partial leftover stays beside the outputs.
    std::vector<std::string> opened_files;
    std::vector<std::string> abandoned_files;
};

struct RunState {
    Options options;
    std::array<OutputStream, kSlotCount> outputs;
    ProgramTables tables;
    TimingState timing;  // -PTS time_base and the PCR_PID list of the current input
    RouteTable routes;   // where each PID goes, for the current tables and assignment
    InputFiles input;
};

}  // namespace quill
