// Per-PID statistics of the output files (-LOG, -LOGFILE): the records the counting fills.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "state/mpeg.h"

namespace quill {

// The counts of one PID in one output file, created on the PID's first packet in that file.
struct PidStats {
    int pid = 0;
    int last_continuity_counter = -1;  // -1: no reference (new record, or after reset_continuity)
    std::int64_t total = 0;
    std::int64_t drop = 0;             // continuity errors; never left below 0
    std::int64_t scrambling = 0;       // transport_scrambling_control != 0
    std::int64_t biterror = 0;         // transport_error_indicator == 1
    std::uint8_t last_packet[kPacketSize] = {};
    int duplicate_run = 0;             // packets in a row that repeated their predecessor's counter
};

// One distinct output path of a slot.
struct FileStatsSlot {
    std::string path;
    FileIdentity identity;  // of the file first opened under the path
    int fd = -1;            // handle it was last opened under
    // Memory ran out for this file: some of its packets were not counted.
    bool incomplete = false;
    // PID -> 1 + index into `records`, 0 when the PID has not occurred. Flat because it is looked
    // up for every packet; 16 KiB per file, while records exist only for PIDs that occur.
    std::unique_ptr<std::uint16_t[]> record_of_pid;
    std::vector<PidStats> records;
};

// The statistics of one output slot.
struct SlotStatistics {
    std::vector<FileStatsSlot> files;  // in the order the paths were first opened
    // Handle -> index into `files`, -1 when none. Grows with the handles seen, so any handle
    // number the platform hands out is counted.
    std::vector<int> file_of_handle;
    int lost_files = 0;  // files that got no statistics at all (memory ran out at registration)
    // Tests only: allocations left before each further one is treated as failed; -1 = no limit.
    int allocation_budget = -1;
};

}  // namespace quill
