#include "ini_file.h"

#include <cstdio>
#include <optional>
#include <vector>

namespace quill::gui {
namespace {

bool is_ini_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_ini_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_ini_space(s.back())) s.remove_suffix(1);
    return s;
}

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The file as lines without their ends. An unreadable or missing file is empty.
std::vector<std::string> read_lines(const std::string& path) {
    std::vector<std::string> lines;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return lines;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// The section name of a header line ("[name]", blanks around allowed), or nothing.
std::optional<std::string_view> section_of(std::string_view line) {
    std::string_view t = trim(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    t.remove_prefix(1);
    // The last ']' closes the name, so a profile name may itself hold one.
    size_t close = t.rfind(']');
    if (close != std::string_view::npos) t = t.substr(0, close);
    return trim(t);
}

// Key name of a line inside a section: the text before '=', or the whole line when it has none.
std::string_view key_of(std::string_view line) {
    size_t eq = line.find('=');
    return trim(eq == std::string_view::npos ? line : line.substr(0, eq));
}

std::string_view value_of(std::string_view line) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) return {};
    std::string_view v = trim(line.substr(eq + 1));
    // A value wrapped in a matching pair of quotes is read without them.
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    return v;
}

struct Position {
    std::optional<size_t> header;  // line index of the section header
    size_t section_end = 0;        // one past the section's last line
    std::optional<size_t> key;     // line index of the key
};

// Where a section and one of its keys are. The first section and key of a name win.
Position locate(const std::vector<std::string>& lines, std::string_view section) {
    Position pos;
    for (size_t i = 0; i < lines.size(); ++i) {
        auto name = section_of(lines[i]);
        if (!name) continue;
        if (pos.header) {  // the next header ends the one we found
            pos.section_end = i;
            return pos;
        }
        if (equal_ignoring_case(*name, section)) pos.header = i;
    }
    pos.section_end = lines.size();
    return pos;
}

void find_key(const std::vector<std::string>& lines, Position& pos, std::string_view key) {
    if (!pos.header) return;
    for (size_t i = *pos.header + 1; i < pos.section_end; ++i) {
        if (trim(lines[i]).empty()) continue;
        if (equal_ignoring_case(key_of(lines[i]), key)) {
            pos.key = i;
            return;
        }
    }
}

std::optional<std::string> lookup(const std::string& path, std::string_view section,
                                  std::string_view key) {
    std::vector<std::string> lines = read_lines(path);
    Position pos = locate(lines, section);
    find_key(lines, pos, key);
    if (!pos.key) return std::nullopt;
    return std::string(value_of(lines[*pos.key]));
}

bool write_lines(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    const std::string temp = path + ".new";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (std::fclose(f) == 0) && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        // Windows' rename does not replace an existing file: remove it first.
        std::remove(path.c_str());
        ok = std::rename(temp.c_str(), path.c_str()) == 0;
    }
    if (!ok) std::remove(temp.c_str());
    return ok;
}

}  // namespace

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

int IniFile::get_int(std::string_view section, std::string_view key, int def) {
    std::optional<std::string> value = lookup(path_, section, key);
    if (!value || value->empty()) return def;
    // Decimal (or hexadecimal after "0x") with an optional sign, up to the first other
    // character; wraps like the 32-bit conversion of the Windows profile functions ("12ab" is 12,
    // "ab" is 0, "0x10" is 16).
    std::string_view v = *value;
    bool minus = false;
    if (!v.empty() && (v.front() == '+' || v.front() == '-')) {
        minus = v.front() == '-';
        v.remove_prefix(1);
    }
    unsigned int base = 10;
    if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        base = 16;
        v.remove_prefix(2);
    }
    unsigned int total = 0;
    for (char c : v) {
        unsigned int digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned int>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned int>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned int>(c - 'A' + 10);
        else break;
        total = total * base + digit;
    }
    if (minus) total = 0u - total;
    return static_cast<int>(total);
}

std::string IniFile::get_string(std::string_view section, std::string_view key,
                                std::string_view def, int buffer_size) {
    if (buffer_size < 1) return {};
    std::optional<std::string> value = lookup(path_, section, key);
    std::string out = value ? std::move(*value) : std::string(def);
    if (out.size() > static_cast<size_t>(buffer_size - 1)) out.resize(buffer_size - 1);
    return out;
}

bool IniFile::write_string(std::string_view section, std::string_view key,
                           std::string_view value) {
    std::vector<std::string> lines = read_lines(path_);
    Position pos = locate(lines, section);
    find_key(lines, pos, key);
    if (pos.key) {
        // The key keeps the spelling it already has in the file.
        std::string line(key_of(lines[*pos.key]));
        lines[*pos.key] = line + "=" + std::string(value);
    } else if (pos.header) {
        // A new key goes after the section's last non-blank line.
        size_t at = pos.section_end;
        while (at > *pos.header + 1 && trim(lines[at - 1]).empty()) --at;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
                     std::string(key) + "=" + std::string(value));
    } else {
        if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(std::string(key) + "=" + std::string(value));
    }
    return write_lines(path_, lines);
}

}  // namespace quill::gui
