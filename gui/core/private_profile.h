// PrivateProfileStore: the INI store of the Windows build, served by the system's private-profile
// functions through the platform layer (system_ini.h). Names and values are code page 932 byte
// strings, as the front end keeps them. Windows builds only.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "ini_store.h"
#include "system_ini.h"

namespace quill::gui {

class PrivateProfileStore final : public IniStore {
public:
    // `path` must be a full path: the profile functions look for a bare name in the Windows folder.
    explicit PrivateProfileStore(std::string path) : path_(std::move(path)) {}

    int get_int(std::string_view section, std::string_view key, int def) override {
        return system_ini_get_int(path_, section, key, def);
    }
    std::string get_string(std::string_view section, std::string_view key, std::string_view def,
                           int buffer_size) override {
        return system_ini_get_string(path_, section, key, def, buffer_size);
    }
    bool write_string(std::string_view section, std::string_view key,
                      std::string_view value) override {
        return system_ini_write_string(path_, section, key, value);
    }

private:
    std::string path_;
};

}  // namespace quill::gui
