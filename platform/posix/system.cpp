#include "system.h"

#include <climits>
#include <ctime>
#include <unistd.h>

namespace quill {

std::string executable_path() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    return std::string(buf, static_cast<std::size_t>(n));
}

void sleep_ms(int milliseconds) {
    if (milliseconds <= 0) return;
    struct timespec ts {};
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (::nanosleep(&ts, &ts) != 0) {
    }
}

// POSIX sleeps already have fine resolution.
void timer_resolution_begin() {}
void timer_resolution_end() {}

std::int64_t calendar_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

}  // namespace quill
