// The Windows system's INI functions over one file, for the front end's settings store on Windows
// (every other build keeps its settings with the front end's own INI reader). Names and values are
// byte strings (code page 932, as the front end keeps them); `path` must be a full path: the
// system looks for a bare name in the Windows folder. Windows builds only.
#pragma once

#include <string>
#include <string_view>

namespace quill {

// GetPrivateProfileIntA: the key's value as a decimal integer, `def` when missing or empty.
int system_ini_get_int(const std::string& path, std::string_view section, std::string_view key, int def);
// GetPrivateProfileStringA into a buffer of `buffer_size` bytes (the zero included); a size below 1
// gives an empty text.
std::string system_ini_get_string(const std::string& path, std::string_view section, std::string_view key,
                                  std::string_view def, int buffer_size);
// WritePrivateProfileStringA; false when the file could not be written.
bool system_ini_write_string(const std::string& path, std::string_view section, std::string_view key,
                             std::string_view value);

}  // namespace quill
