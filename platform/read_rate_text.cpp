// The texts of the Linux read counters. Plain text parsing, built everywhere so that its tests run
// on every system.
#include "read_rate.h"

namespace quill {

namespace {

// Parses an unsigned decimal number at `p`; false when there are no digits.
bool parse_unsigned(const char*& p, unsigned long long& value) {
    if (*p < '0' || *p > '9') return false;
    unsigned long long v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10u + static_cast<unsigned>(*p - '0');
        ++p;
    }
    value = v;
    return true;
}

}  // namespace

bool parse_block_stat_sectors_read(const std::string& text, unsigned long long& sectors) {
    const char* p = text.c_str();
    unsigned long long field = 0;
    for (int i = 0; i < 3; ++i) {
        while (*p == ' ' || *p == '\t') ++p;
        if (!parse_unsigned(p, field)) return false;
    }
    sectors = field;
    return true;
}

bool parse_proc_io_read_bytes(const std::string& text, unsigned long long& bytes) {
    static const char kKey[] = "read_bytes:";
    std::size_t at = 0;
    while ((at = text.find(kKey, at)) != std::string::npos) {
        if (at == 0 || text[at - 1] == '\n') {
            const char* p = text.c_str() + at + sizeof kKey - 1;
            while (*p == ' ' || *p == '\t') ++p;
            return parse_unsigned(p, bytes);
        }
        at += sizeof kKey - 1;
    }
    return false;
}

}  // namespace quill
