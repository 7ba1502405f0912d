// Process-level services: own executable path, sleeping, timer resolution, calendar seconds.
#pragma once
#include <cstdint>
#include <string>

namespace quill {

std::string executable_path();  // empty when unknown
void sleep_ms(int milliseconds);
void timer_resolution_begin();  // 1 ms scheduler resolution where the system needs asking
void timer_resolution_end();
std::int64_t calendar_seconds();

}  // namespace quill
