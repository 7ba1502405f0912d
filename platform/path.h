// Splitting and joining of file paths the way the console program names its outputs:
// drive, folder (with its trailing separator), base name and extension (with its dot).
#pragma once
#include <string>

namespace quill {

struct PathParts {
    std::string drive;   // "C:" on Windows; always empty on POSIX
    std::string folder;  // ends with a separator when not empty
    std::string base;
    std::string ext;     // begins with '.' when not empty
};

extern const char kPathSeparator;  // '\\' on Windows, '/' on POSIX

bool is_path_separator(char c);
PathParts split_path(const std::string& path);
// Joins the parts, adding the drive's colon, the folder's separator and the extension's dot only
// where they are missing.
std::string join_path(const std::string& drive, const std::string& folder, const std::string& base,
                      const std::string& ext);

}  // namespace quill
