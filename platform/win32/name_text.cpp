// Names on Windows are code page 932 text.
#include "name_text.h"

#include <vector>
#include <windows.h>

namespace quill {

std::size_t last_char_bytes(const std::string& name) { return last_char_bytes_cp932(name); }

std::size_t utf16_bytes(const std::string& path) {
    constexpr int kMaxUnits = 4096;
    if (path.empty()) return 0;
    std::vector<wchar_t> wide(kMaxUnits);
    const int in_length = static_cast<int>(path.size());
    int units = MultiByteToWideChar(932, 0, path.data(), in_length, wide.data(), kMaxUnits);
    if (units == 0) units = kMaxUnits;  // did not fit: counted as the most that is counted
    return static_cast<std::size_t>(units) * 2;
}

}  // namespace quill
