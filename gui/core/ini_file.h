// IniFile: the INI store over a text file of our own, with the behaviour of the Windows
// private-profile functions (see ini_store.h).
//
// Like those functions it keeps nothing in memory: every call reads the file, and every write
// rewrites it whole (through a temporary file that replaces the old one, so a failed write never
// leaves half a file behind). Lines are written with CR LF ends; LF-only files are read too.
#pragma once

#include <string>
#include <string_view>

#include "ini_store.h"

namespace quill::gui {

class IniFile final : public IniStore {
public:
    explicit IniFile(std::string path) : path_(std::move(path)) {}

    int get_int(std::string_view section, std::string_view key, int def) override;
    std::string get_string(std::string_view section, std::string_view key, std::string_view def,
                           int buffer_size) override;
    bool write_string(std::string_view section, std::string_view key,
                      std::string_view value) override;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// ASCII letter case folded, byte for byte: how section, key and profile names are matched.
bool equal_ignoring_case(std::string_view a, std::string_view b);

}  // namespace quill::gui
