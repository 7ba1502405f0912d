#include "system.h"

#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
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

unsigned long process_id() { return static_cast<unsigned long>(::getpid()); }

namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr int kInterruptSignalCount = static_cast<int>(sizeof kInterruptSignals / sizeof kInterruptSignals[0]);

// What the handler reads: a path copied in before the handler is installed, and a flag that says
// whether it still names a file of ours.
char interrupt_path[PATH_MAX];
volatile std::sig_atomic_t interrupt_armed = 0;
struct sigaction previous_actions[kInterruptSignalCount];
bool handler_installed[kInterruptSignalCount] = {};

void on_interrupt(int signal_number) {
    if (interrupt_armed) {
        interrupt_armed = 0;
        ::unlink(interrupt_path);
    }
    // Ended by the signal itself, so that the shell and the parent see what they would have seen.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal_number, &fallback, nullptr);
    ::raise(signal_number);
}

}  // namespace

void remove_on_interrupt(const char* path) {
    interrupt_armed = 0;
    const std::size_t length = std::strlen(path);
    if (length >= sizeof interrupt_path) return;  // longer than any path the system opens
    std::memcpy(interrupt_path, path, length + 1);
    interrupt_armed = 1;
    for (int i = 0; i < kInterruptSignalCount; ++i) {
        if (handler_installed[i]) continue;
        struct sigaction current {};
        if (::sigaction(kInterruptSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = on_interrupt;
        sigemptyset(&action.sa_mask);
        for (int other : kInterruptSignals) sigaddset(&action.sa_mask, other);
        if (::sigaction(kInterruptSignals[i], &action, &previous_actions[i]) == 0) handler_installed[i] = true;
    }
}

void forget_on_interrupt() {
    interrupt_armed = 0;
    for (int i = 0; i < kInterruptSignalCount; ++i) {
        if (!handler_installed[i]) continue;
        ::sigaction(kInterruptSignals[i], &previous_actions[i], nullptr);
        handler_installed[i] = false;
    }
}

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
