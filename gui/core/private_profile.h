// PrivateProfileStore: the INI store of the Windows build, served by the system's private-profile
// functions (GetPrivateProfileIntA, GetPrivateProfileStringA, WritePrivateProfileStringA). Names
// and values are code page 932 byte strings, as the front end keeps them.
#pragma once

#include <string>
#include <string_view>

#include "ini_store.h"

namespace quill::gui {

class PrivateProfileStore final : public IniStore {
public:
    // `path` must be a full path: the profile functions look for a bare name in the Windows folder.
    explicit PrivateProfileStore(std::string path) : path_(std::move(path)) {}

    int get_int(std::string_view section, std::string_view key, int def) override;
    std::string get_string(std::string_view section, std::string_view key, std::string_view def,
                           int buffer_size) override;
    bool write_string(std::string_view section, std::string_view key,
                      std::string_view value) override;

private:
    std::string path_;
};

}  // namespace quill::gui
