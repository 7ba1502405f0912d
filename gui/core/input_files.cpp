#include "input_files.h"

#include <cstdio>

#include "path_text.h"

namespace quill::gui {
namespace {

// The 1500-byte rule: room for the path, its two quotes and the separating blank.
bool fits(const std::string& joined, const std::string& path) {
    return joined.size() + path.size() + 3 <= kJoinedInputMax;
}

void append_quoted(std::string& joined, const std::string& path) {
    if (!joined.empty()) joined += ' ';
    joined += '"';
    joined += path;
    joined += '"';
}

}  // namespace

std::string write_list_file(const PathCollection& paths, const std::string& list_path,
                            int& file_count) {
    file_count = 0;
    std::FILE* f = std::fopen(list_path.c_str(), "wb");
    if (f == nullptr) return {};
    bool ok = true;
    int written = 0;
    for (const std::string& path : paths) {
        ok = ok && std::fwrite(path.data(), 1, path.size(), f) == path.size() &&
             std::fwrite("\r\n", 1, 2, f) == 2;
        ++written;
    }
    // A short list would silently convert fewer files than were given: report it as a failure.
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) return {};
    file_count = written;
    return "-FLIST \"" + list_path + "\"";
}

JoinedInput join_paths(const std::vector<std::string>& paths) {
    JoinedInput j;
    const bool quote = paths.size() > 1;
    for (const std::string& path : paths) {
        j.paths.push_back(path);
        if (j.overflow) continue;
        if (!fits(j.text, path)) {
            j.overflow = true;
            continue;
        }
        if (quote) {
            append_quoted(j.text, path);
        } else {
            j.text = path;
        }
    }
    return j;
}

std::vector<std::string> split_command_line(std::string_view s) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < s.size()) {
        if (s[i] == ' ') {
            ++i;
            continue;
        }
        size_t end;
        std::string word;
        if (s[i] == '"') {
            end = s.find('"', i + 1);
            if (end == std::string_view::npos) end = s.size();
            word = s.substr(i + 1, end - (i + 1));
            i = end + 1;
        } else {
            end = s.find(' ', i);
            if (end == std::string_view::npos) end = s.size();
            word = s.substr(i, end - i);
            i = end;
        }
        if (!word.empty()) words.push_back(std::move(word));
    }
    return words;
}

JoinedInput join_command_line_words(const std::vector<std::string>& words) {
    JoinedInput j;
    for (size_t n = 0; n < words.size(); ++n) {
        const std::string& word = words[n];
        j.paths.push_back(word);
        if (n == 0) {
            j.text = word;
        } else if (n == 1) {
            const std::string first = j.text;
            j.text.clear();
            append_quoted(j.text, first);
            append_quoted(j.text, word);
        } else if (!j.overflow) {
            if (fits(j.text, word)) {
                append_quoted(j.text, word);
            } else {
                j.overflow = true;
            }
        }
    }
    return j;
}

std::string input_field_text(const JoinedInput& joined, const std::string& list_path,
                             int& file_count) {
    if (!joined.overflow) return joined.text;
    return write_list_file(joined.paths, list_path, file_count);
}

std::vector<std::string> paths_from_open_dialog(std::string_view buffer) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < buffer.size()) {
        size_t end = buffer.find('\0', i);
        if (end == std::string_view::npos) end = buffer.size();
        if (end == i) break;  // the empty name that ends the list
        parts.emplace_back(buffer.substr(i, end - i));
        i = end + 1;
    }
    if (parts.size() <= 1) return parts;
    // The folder of a choice in a drive root already ends in its backslash (C:\ for example).
    const std::string& folder = parts[0];
    const bool has_separator = without_trailing_backslashes(folder).size() != folder.size();
    std::vector<std::string> paths;
    for (size_t n = 1; n < parts.size(); ++n) paths.push_back(folder + (has_separator ? "" : "\\") + parts[n]);
    return paths;
}

FrontEndPaths front_end_paths(std::string_view exe_path) {
    const size_t folder_bytes = folder_length(exe_path);
    const std::string folder(exe_path.substr(0, folder_bytes));
    std::string_view name = exe_path.substr(folder_bytes);
    const size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    return {folder + std::string(name) + ".ini", folder + "Quillodine.exe",
            folder + "QuillodineGUI.lst"};
}

}  // namespace quill::gui
