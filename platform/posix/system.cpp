#include "system.h"

#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>

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

std::uint8_t* allocate_large_buffer(std::size_t size) {
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (size < kHugePage) return static_cast<std::uint8_t*>(std::malloc(size > 0 ? size : 1));
    const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    if (rounded < size) return nullptr;
    void* buffer = std::aligned_alloc(kHugePage, rounded);
    if (buffer == nullptr) return nullptr;
#ifdef MADV_HUGEPAGE
    ::madvise(buffer, rounded, MADV_HUGEPAGE);  // a hint: without it the buffer works the same
#endif
    return static_cast<std::uint8_t*>(buffer);
}

void free_large_buffer(std::uint8_t* buffer) { std::free(buffer); }

}  // namespace quill
