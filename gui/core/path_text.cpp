#include "path_text.h"

namespace quill::gui {

std::string_view without_trailing_backslashes(std::string_view path, LastCharRule last_char) {
    // A backslash is dropped only when it is a character of its own.
    std::string rest(path);
    while (!rest.empty() && rest.back() == '\\' && last_char(rest) == 1) rest.pop_back();
    return path.substr(0, rest.size());
}

std::size_t folder_length(std::string_view path, LastCharRule last_char) {
    // Whole characters are peeled off the name until a separator of its own is last.
    std::string rest(path);
    while (!rest.empty()) {
        const std::size_t n = last_char(rest);
        if (n == 1 && (rest.back() == '\\' || rest.back() == '/' || rest.back() == ':')) break;
        rest.resize(rest.size() - n);
    }
    return rest.size();
}

}  // namespace quill::gui
