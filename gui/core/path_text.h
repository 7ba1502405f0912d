// Separators in the front end's paths. Names are multibyte text in the system's code page: UTF-8
// on POSIX, code page 932 on Windows, where the second byte of a double-byte character may be
// 0x5C, the backslash ("表" is 0x95 0x5C). These helpers step over whole characters, measured
// from the end with the platform's own rule, so such a byte is never taken for a separator.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "name_text.h"

namespace quill::gui {

// Byte length of the last character of a name (0 when empty).
using LastCharRule = std::size_t (*)(const std::string& name);

// `path` without its trailing backslashes.
std::string_view without_trailing_backslashes(std::string_view path,
                                              LastCharRule last_char = quill::last_char_bytes);

// Bytes of the folder part of `path`: up to and with the last '\', '/' or ':' (0 when none).
std::size_t folder_length(std::string_view path, LastCharRule last_char = quill::last_char_bytes);

}  // namespace quill::gui
