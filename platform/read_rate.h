// Read rates for the adaptive wait: how many bytes per second are read from the disk that holds
// the input (by every process) and by this process itself. Each measurement takes its first sample
// when it is opened; every later sample gives the rate since the sample before it.
#pragma once
#include <string>

namespace quill {

struct ReadRate;  // opaque; one per measurement

// The disk holding the open file `source_fd` (POSIX), or the drive `source_drive` ("C:", Windows).
// nullptr when the system offers no such measurement for it.
ReadRate* read_rate_open_disk(int source_fd, const std::string& source_drive);
// This process's reads from storage; nullptr when the system does not account them.
ReadRate* read_rate_open_process();
// Takes a sample; false when the counter cannot be read or no time has passed since the last one.
bool read_rate_sample(ReadRate* rate, double& bytes_per_second);
void read_rate_close(ReadRate* rate);  // nullptr is allowed

// The Linux counter texts, read by the POSIX side.
// /sys/dev/block/MAJ:MIN/stat: the third field counts 512-byte sectors read.
bool parse_block_stat_sectors_read(const std::string& text, unsigned long long& sectors);
// /proc/self/io: the "read_bytes:" line counts bytes this process caused to be fetched from storage.
bool parse_proc_io_read_bytes(const std::string& text, unsigned long long& bytes);

}  // namespace quill
