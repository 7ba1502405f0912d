#include "path.h"

#include "name_text.h"

namespace quill {

const char kPathSeparator = '\\';

// Names are code page 932 text: the trail byte of a double-byte character may be 0x5C ('\\'),
// which is never taken for a separator (the runtime's multibyte path splitting skips it too).
bool is_path_separator(char c) { return c == '\\' || c == '/'; }

PathParts split_path(const std::string& path) {
    PathParts parts;
    std::size_t start = 0;
    if (path.size() >= 2 && path[1] == ':') {
        parts.drive = path.substr(0, 2);
        start = 2;
    }
    std::size_t name_start = start;
    std::size_t last_dot = std::string::npos;
    for (std::size_t i = start; i < path.size();) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (is_cp932_lead(c) && i + 1 < path.size()) {
            i += 2;
            continue;
        }
        if (is_path_separator(static_cast<char>(c))) {
            name_start = i + 1;
            last_dot = std::string::npos;
        } else if (c == '.') {
            last_dot = i;
        }
        ++i;
    }
    parts.folder = path.substr(start, name_start - start);
    if (last_dot == std::string::npos) {
        parts.base = path.substr(name_start);
    } else {
        parts.base = path.substr(name_start, last_dot - name_start);
        parts.ext = path.substr(last_dot);
    }
    return parts;
}

namespace {

// True when `folder` ends with a separator that is not the trail byte of a double-byte character.
bool ends_with_separator(const std::string& folder) {
    bool last_is_separator = false;
    for (std::size_t i = 0; i < folder.size();) {
        const unsigned char c = static_cast<unsigned char>(folder[i]);
        if (is_cp932_lead(c) && i + 1 < folder.size()) {
            last_is_separator = false;
            i += 2;
            continue;
        }
        last_is_separator = is_path_separator(static_cast<char>(c));
        ++i;
    }
    return last_is_separator;
}

}  // namespace

std::string join_path(const std::string& drive, const std::string& folder, const std::string& base,
                      const std::string& ext) {
    std::string out;
    out.reserve(drive.size() + folder.size() + base.size() + ext.size() + 3);
    out += drive;
    if (!drive.empty() && drive.back() != ':') out += ':';
    out += folder;
    if (!folder.empty() && !ends_with_separator(folder)) out += kPathSeparator;
    out += base;
    if (!ext.empty() && ext.front() != '.') out += '.';
    out += ext;
    return out;
}

}  // namespace quill
