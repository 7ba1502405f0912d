// How input files reach the input field: joining dropped or chosen paths, the list file that
// takes over when they no longer fit, and the front end's own command line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quill::gui {

// Joined input text may grow to this many bytes; past it the paths go to the list file.
inline constexpr size_t kJoinedInputMax = 1500;

// Paths gathered from a drop, the file dialog or the command line, in order.
using PathCollection = std::vector<std::string>;

// Writes the collection to the list file, one path per CR LF line, and returns
// "-FLIST \"<list path>\"" for the input field. `file_count` becomes the number of paths written.
// When the file cannot be created or written completely, returns an empty text and the count is 0.
std::string write_list_file(const PathCollection& paths, const std::string& list_path,
                            int& file_count);

struct JoinedInput {
    std::string text;      // paths separated by one blank
    PathCollection paths;  // every path, also those that did not fit
    bool overflow = false; // the 1500-byte rule stopped the joining
};

// A drop or a file-dialog choice: one path stays bare, several are each put in double quotes.
JoinedInput join_paths(const std::vector<std::string>& paths);

// Words of the front end's own command line: blanks separate words; a word that begins with a
// double quote runs to the next one (or the end) without its quotes. Empty words are dropped.
std::vector<std::string> split_command_line(std::string_view command_line);
// The first word bare; from the second on, every word in double quotes (the rule is tested from
// the third word on).
JoinedInput join_command_line_words(const std::vector<std::string>& words);

// What the input field receives: the joined text, or the list file's -FLIST text when the rule
// stopped the joining (then `file_count` is set by write_list_file).
std::string input_field_text(const JoinedInput& joined, const std::string& list_path,
                             int& file_count);

// Paths of a multiple-selection file dialog buffer: either one full path, or the folder followed
// by the file names, each zero-terminated, ending with an empty name.
std::vector<std::string> paths_from_open_dialog(std::string_view buffer);

// The front end's files, beside its executable.
struct FrontEndPaths {
    std::string ini;      // the executable's own base name, ".ini"
    std::string console;  // "Quillodine.exe"
    std::string list;     // "QuillodineGUI.lst"
};
FrontEndPaths front_end_paths(std::string_view exe_path);

}  // namespace quill::gui
