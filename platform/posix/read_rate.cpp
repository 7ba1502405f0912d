#include "read_rate.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace quill {

namespace {

enum class Source { Disk, Process };

bool read_small_file(const std::string& path, std::string& text) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[4096];
    text.clear();
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > 65536) break;  // these files are a few hundred bytes
    }
    ::close(fd);
    return !text.empty();
}

double monotonic_seconds() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

struct ReadRate {
    Source source;
    std::string path;
    unsigned long long last_bytes = 0;
    double last_time = 0;
};

namespace {

bool read_counter(const ReadRate& rate, unsigned long long& bytes) {
    std::string text;
    if (!read_small_file(rate.path, text)) return false;
    if (rate.source == Source::Disk) {
        unsigned long long sectors = 0;
        if (!parse_block_stat_sectors_read(text, sectors)) return false;
        bytes = sectors * 512u;  // the kernel counts in 512-byte units whatever the device's sectors
        return true;
    }
    return parse_proc_io_read_bytes(text, bytes);
}

ReadRate* open_rate(Source source, std::string path) {
    auto* rate = new ReadRate{source, std::move(path)};
    if (!read_counter(*rate, rate->last_bytes)) {
        delete rate;
        return nullptr;
    }
    rate->last_time = monotonic_seconds();
    return rate;
}

}  // namespace

ReadRate* read_rate_open_disk(int source_fd, const std::string& /*source_drive*/) {
    struct stat st {};
    if (::fstat(source_fd, &st) != 0) return nullptr;
    // Files on tmpfs, overlay or network file systems have no block device of their own (major 0).
    if (::major(st.st_dev) == 0) return nullptr;
    char path[64];
    std::snprintf(path, sizeof path, "/sys/dev/block/%u:%u/stat", ::major(st.st_dev), ::minor(st.st_dev));
    return open_rate(Source::Disk, path);
}

ReadRate* read_rate_open_process() { return open_rate(Source::Process, "/proc/self/io"); }

bool read_rate_sample(ReadRate* rate, double& bytes_per_second) {
    if (!rate) return false;
    unsigned long long bytes = 0;
    if (!read_counter(*rate, bytes)) return false;
    const double now = monotonic_seconds();
    const double elapsed = now - rate->last_time;
    const unsigned long long previous = rate->last_bytes;
    rate->last_bytes = bytes;
    rate->last_time = now;
    if (elapsed <= 0 || bytes < previous) return false;  // no interval, or the counter was reset
    bytes_per_second = static_cast<double>(bytes - previous) / elapsed;
    return true;
}

void read_rate_close(ReadRate* rate) { delete rate; }

}  // namespace quill
