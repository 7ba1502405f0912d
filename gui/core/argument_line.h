// The console program's argument line, built from the option panel and the input field, and the
// free-space texts of the output folder.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "settings.h"

namespace quill::gui {

// Free bytes available to the user on the volume of a drive ("C:", or "" for the current one);
// nothing when the query fails. The Windows layer serves it with GetDiskFreeSpaceExA.
using FreeSpaceQuery = std::function<std::optional<std::uint64_t>(std::string_view drive)>;

// Option edit boxes are read with a 1024-byte buffer, the input field with a 32768-byte one.
inline constexpr size_t kOptionTextMax = 1023;
inline constexpr size_t kInputFieldMax = 32767;

// Enabled state of the controls that depend on others.
struct DependentControls {
    bool sd_members = true;  // 1007, 1008, 1009
    bool cs_text = false;    // 1013
    bool pid_text = false;   // 1015
    bool out_path = false;   // 1044
    bool buff_size = false;  // 1047
    bool ovl = false;        // 1020
    bool ovl_text = false;   // 1021
    bool sepa_cut = false;   // 1053
    bool b25_emm = false;    // 1049
    bool uni = false;        // 1041
    bool wait_text = false;  // 1059
    bool wait2_text = false; // 1060

    bool operator==(const DependentControls&) const = default;
};

struct ArgumentLine {
    std::string line;               // for the command preview box
    DependentControls enabled;
    int file_count = 0;             // input files the line names (unchanged for -FLIST or no input)
    bool convert_enabled = false;   // button "変換"
    std::string free_space_label;   // control 1058, possibly empty
};

// Everything the panel shows after a change. `file_count` is the current count, kept when the
// input does not set it.
ArgumentLine build_argument_line(const Settings& panel, std::string_view input_field,
                                 int file_count, const FreeSpaceQuery& free_space);

// Names in a text that begins with a double quote: quotes pair up in order, and a last unpaired
// quote counts one more name.
int count_quoted_names(std::string_view text);

// "C:" when the path begins with a drive letter and colon, else empty.
std::string drive_part(std::string_view path);
// "(空きディスク領域 ...)" for the label; empty when the query fails.
std::string free_space_label(std::string_view path, const FreeSpaceQuery& free_space);
// "[C:\] : (空きディスク領域 ...)" for the folder browser's status line; the path itself when the
// query fails.
std::string free_space_status(std::string_view path, const FreeSpaceQuery& free_space);

// The child's command line: the console program's path in double quotes, a blank, the arguments.
std::string child_command_line(std::string_view console_path, std::string_view arguments);

}  // namespace quill::gui
