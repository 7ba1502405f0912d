// The INI store the front end keeps its settings in.
//
// The operations and their results are those of the Windows private-profile functions, so the
// Windows build can serve them with GetPrivateProfileIntA / GetPrivateProfileStringA /
// WritePrivateProfileStringA over the same file, and every other build uses IniFile (ini_file.h).
// Section and key names are byte strings matched without regard to ASCII letter case.
#pragma once

#include <string>
#include <string_view>

namespace quill::gui {

struct IniStore {
    virtual ~IniStore() = default;
    // The key's value read as a decimal integer; `def` when the key is missing or its value empty.
    virtual int get_int(std::string_view section, std::string_view key, int def) = 0;
    // The key's value, or `def` when missing, cut to `buffer_size` - 1 bytes (the size counts the
    // terminating zero of the Windows buffer; a size below 1 gives an empty text).
    virtual std::string get_string(std::string_view section, std::string_view key,
                                   std::string_view def, int buffer_size) = 0;
    // Creates the file, the section or the key as needed and replaces the key's value. False when
    // the file could not be written.
    virtual bool write_string(std::string_view section, std::string_view key,
                              std::string_view value) = 0;
};

}  // namespace quill::gui
