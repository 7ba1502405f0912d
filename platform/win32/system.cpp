#include "system.h"

#include <cstdlib>
#include <ctime>
#include <windows.h>
// after windows.h, which it needs
#include <mmsystem.h>

namespace quill {

std::string executable_path() {
    char buf[1024];
    const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    // A path that did not fit is not a path at all.
    if (n == 0 || n >= sizeof buf) return std::string();
    return std::string(buf, n);
}

void sleep_ms(int milliseconds) {
    if (milliseconds > 0) Sleep(static_cast<DWORD>(milliseconds));
}

// Sleep rounds up to the scheduler's tick (15.6 ms by default); -WAIT asks for milliseconds.
void timer_resolution_begin() { timeBeginPeriod(1); }
void timer_resolution_end() { timeEndPeriod(1); }

std::int64_t calendar_seconds() { return static_cast<std::int64_t>(_time64(nullptr)); }

unsigned long process_id() { return static_cast<unsigned long>(GetCurrentProcessId()); }

// file_is_pipe is false on Windows, so no spool is ever made there.
void remove_on_interrupt(const char*) {}
void forget_on_interrupt() {}

// Large pages need a privilege users do not hold; the heap serves these buffers.
std::uint8_t* allocate_large_buffer(std::size_t size) {
    return static_cast<std::uint8_t*>(std::malloc(size > 0 ? size : 1));
}

void free_large_buffer(std::uint8_t* buffer) { std::free(buffer); }

}  // namespace quill
