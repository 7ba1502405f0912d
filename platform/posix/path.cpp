#include "path.h"

namespace quill {

const char kPathSeparator = '/';

bool is_path_separator(char c) { return c == '/'; }

PathParts split_path(const std::string& path) {
    PathParts parts;
    std::size_t slash = path.find_last_of('/');
    std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    parts.folder = path.substr(0, name_start);
    std::string name = path.substr(name_start);
    std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) {
        parts.base = name;
    } else {
        parts.base = name.substr(0, dot);
        parts.ext = name.substr(dot);
    }
    return parts;
}

std::string join_path(const std::string& drive, const std::string& folder, const std::string& base,
                      const std::string& ext) {
    std::string out;
    out.reserve(drive.size() + folder.size() + base.size() + ext.size() + 3);
    out += drive;  // no drives on POSIX; kept for the common signature
    out += folder;
    if (!folder.empty() && !is_path_separator(folder.back())) out += kPathSeparator;
    out += base;
    if (!ext.empty() && ext.front() != '.') out += '.';
    out += ext;
    return out;
}

}  // namespace quill
