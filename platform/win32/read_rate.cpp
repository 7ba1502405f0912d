// Read rates from the system's performance counters (Performance Data Helper).
#include "read_rate.h"

#include <cstdio>
#include <io.h>
#include <pdh.h>
#include <pdhmsg.h>
#include <windows.h>

#include "path.h"
#include "system.h"

namespace quill {

struct ReadRate {
    PDH_HQUERY query = nullptr;
    PDH_HCOUNTER counter = nullptr;
};

namespace {

// Counters are added by their English names, which every language of the system accepts (the
// plain call wants the names in the language of the system).
ReadRate* open_counter(const std::string& counter_path) {
    PDH_HQUERY query = nullptr;
    if (PdhOpenQueryA(nullptr, 0, &query) != ERROR_SUCCESS) return nullptr;
    PDH_HCOUNTER counter = nullptr;
    if (PdhAddEnglishCounterA(query, counter_path.c_str(), 0, &counter) != ERROR_SUCCESS ||
        PdhCollectQueryData(query) != ERROR_SUCCESS) {
        PdhCloseQuery(query);
        return nullptr;
    }
    return new ReadRate{query, counter};
}

// The drive letter of the volume that holds an open file ("C:"), empty when it has none (a
// network share without a drive letter).
std::string drive_of_open_file(int fd) {
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE) return std::string();
    char buf[1100];
    const DWORD n = GetFinalPathNameByHandleA(handle, buf, sizeof buf, VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof buf) return std::string();
    std::string path(buf, n);
    if (path.rfind("\\\\?\\", 0) == 0) path.erase(0, 4);
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
    return std::string();
}

}  // namespace

ReadRate* read_rate_open_disk(int source_fd, const std::string& source_drive) {
    // An input named without a drive (a relative path) lies on some drive all the same.
    const std::string drive = source_drive.empty() ? drive_of_open_file(source_fd) : source_drive;
    if (drive.empty()) return nullptr;
    return open_counter("\\LogicalDisk(" + drive + ")\\Disk Read Bytes/sec");
}

ReadRate* read_rate_open_process() {
    // The counters name a process after its executable's base name.
    const std::string base = split_path(executable_path()).base;
    if (base.empty()) return nullptr;
    return open_counter("\\Process(" + base + ")\\IO Read Bytes/sec");
}

bool read_rate_sample(ReadRate* rate, double& bytes_per_second) {
    if (!rate) return false;
    if (PdhCollectQueryData(rate->query) != ERROR_SUCCESS) return false;
    PDH_FMT_COUNTERVALUE value;
    if (PdhGetFormattedCounterValue(rate->counter, PDH_FMT_DOUBLE, nullptr, &value) != ERROR_SUCCESS) return false;
    if (value.CStatus != PDH_CSTATUS_VALID_DATA && value.CStatus != PDH_CSTATUS_NEW_DATA) return false;
    bytes_per_second = value.doubleValue;
    return true;
}

void read_rate_close(ReadRate* rate) {
    if (!rate) return;
    PdhCloseQuery(rate->query);
    delete rate;
}

}  // namespace quill
