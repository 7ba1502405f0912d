#include "private_profile.h"

#include <vector>
#include <windows.h>

namespace quill::gui {

int PrivateProfileStore::get_int(std::string_view section, std::string_view key, int def) {
    return static_cast<int>(GetPrivateProfileIntA(std::string(section).c_str(), std::string(key).c_str(), def,
                                                  path_.c_str()));
}

std::string PrivateProfileStore::get_string(std::string_view section, std::string_view key, std::string_view def,
                                            int buffer_size) {
    if (buffer_size < 1) return std::string();
    std::vector<char> buffer(static_cast<std::size_t>(buffer_size));
    const DWORD n = GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                             std::string(def).c_str(), buffer.data(),
                                             static_cast<DWORD>(buffer_size), path_.c_str());
    return std::string(buffer.data(), n);
}

bool PrivateProfileStore::write_string(std::string_view section, std::string_view key, std::string_view value) {
    return WritePrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                      std::string(value).c_str(), path_.c_str()) != FALSE;
}

}  // namespace quill::gui
