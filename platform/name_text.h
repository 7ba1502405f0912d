// Character rules for shortening output names (-FLEN, -UNI). Names are multibyte text: on POSIX
// UTF-8, on Windows code page 932. A character is never split.
#pragma once
#include <cstddef>
#include <string>

namespace quill {

// Byte length of the last character of `name`, walking from its start (0 for an empty name).
std::size_t last_char_bytes(const std::string& name);
// Length of `path` counted as UTF-16 code units times two (at most 4096 units are counted).
std::size_t utf16_bytes(const std::string& path);

// Pure helpers for both encodings, so that each can be tested everywhere.
std::size_t last_char_bytes_utf8(const std::string& name);
std::size_t last_char_bytes_cp932(const std::string& name);
// Whether `c` starts a double-byte character of code page 932 (its trail byte may be 0x5C).
bool is_cp932_lead(unsigned char c);
std::size_t utf16_bytes_utf8(const std::string& path);

}  // namespace quill
