#include "system_ini.h"

#include <vector>
#include <windows.h>

namespace quill {

int system_ini_get_int(const std::string& path, std::string_view section, std::string_view key, int def) {
    return static_cast<int>(GetPrivateProfileIntA(std::string(section).c_str(), std::string(key).c_str(), def,
                                                  path.c_str()));
}

std::string system_ini_get_string(const std::string& path, std::string_view section, std::string_view key,
                                  std::string_view def, int buffer_size) {
    if (buffer_size < 1) return std::string();
    std::vector<char> buffer(static_cast<std::size_t>(buffer_size));
    const DWORD n = GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                             std::string(def).c_str(), buffer.data(),
                                             static_cast<DWORD>(buffer_size), path.c_str());
    return std::string(buffer.data(), n);
}

bool system_ini_write_string(const std::string& path, std::string_view section, std::string_view key,
                             std::string_view value) {
    return WritePrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                      std::string(value).c_str(), path.c_str()) != FALSE;
}

}  // namespace quill
