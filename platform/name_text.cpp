#include "name_text.h"

namespace quill {

namespace {

// Length of the UTF-8 sequence that starts with `lead`, 1 for bytes that cannot start one.
std::size_t utf8_sequence_length(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Walks one character at `i`; a sequence that is cut short or malformed counts byte by byte.
std::size_t utf8_step(const std::string& s, std::size_t i) {
    std::size_t n = utf8_sequence_length(static_cast<unsigned char>(s[i]));
    if (i + n > s.size()) return 1;
    for (std::size_t k = 1; k < n; ++k)
        if (!is_continuation(static_cast<unsigned char>(s[i + k]))) return 1;
    return n;
}

}  // namespace

bool is_cp932_lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

std::size_t last_char_bytes_utf8(const std::string& name) {
    std::size_t last = 0;
    for (std::size_t i = 0; i < name.size();) {
        last = utf8_step(name, i);
        i += last;
    }
    return last;
}

std::size_t last_char_bytes_cp932(const std::string& name) {
    std::size_t last = 0;
    for (std::size_t i = 0; i < name.size();) {
        last = (is_cp932_lead(static_cast<unsigned char>(name[i])) && i + 1 < name.size()) ? 2 : 1;
        i += last;
    }
    return last;
}

std::size_t utf16_bytes_utf8(const std::string& path) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < path.size() && units < 4096;) {
        std::size_t n = utf8_step(path, i);
        units += n == 4 ? 2 : 1;
        i += n;
    }
    if (units > 4096) units = 4096;
    return units * 2;
}

#ifndef _WIN32
std::size_t last_char_bytes(const std::string& name) { return last_char_bytes_utf8(name); }
std::size_t utf16_bytes(const std::string& path) { return utf16_bytes_utf8(path); }
#endif

}  // namespace quill
