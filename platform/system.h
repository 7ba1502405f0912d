// Process-level services: own executable path, sleeping, timer resolution, calendar seconds.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quill {

std::string executable_path();  // empty when unknown
void sleep_ms(int milliseconds);
void timer_resolution_begin();  // 1 ms scheduler resolution where the system needs asking
void timer_resolution_end();
std::int64_t calendar_seconds();
unsigned long process_id();

// A file that must not outlive an interrupted run (the spool of a piped input): until
// forget_on_interrupt, SIGINT, SIGTERM, SIGHUP and SIGPIPE remove it before ending the process
// the way the signal would have (signals the process was started to ignore stay ignored). One
// file at a time; a second call replaces the first. Windows keeps no such file: nothing is done.
void remove_on_interrupt(const char* path);
void forget_on_interrupt();

// The long-lived buffers every byte of a recording streams through (the read buffer, the output
// write buffers). Where the system offers it they are backed by huge pages: fewer TLB misses and
// page faults for the copies into and out of them. Null when memory is short; the contents are
// not cleared.
std::uint8_t* allocate_large_buffer(std::size_t size);
void free_large_buffer(std::uint8_t* buffer);

struct LargeBufferFree {
    void operator()(std::uint8_t* buffer) const noexcept { free_large_buffer(buffer); }
};
using LargeBuffer = std::unique_ptr<std::uint8_t[], LargeBufferFree>;

}  // namespace quill
