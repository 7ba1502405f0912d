#include "output/naming.h"

#include "platform/name_text.h"
#include "platform/path.h"

namespace quill {

std::string build_output_name(const Options& options, const std::string& drive, const std::string& folder,
                              const std::string& base_name, const std::string& suffix, const std::string& ext) {
    std::string base = base_name;
    std::string path = join_path(drive, folder, base + suffix, ext);
    if (base.size() > 2 && options.limit_name_length) {
        for (;;) {
            path = join_path(drive, folder, base + suffix, ext);
            const std::size_t length = options.count_name_as_utf16 ? utf16_bytes(path) : path.size();
            if (length <= kNameLengthLimit) break;
            base.resize(base.size() - last_char_bytes(base));
            if (base.size() <= 2) break;  // the last path built keeps the shortest base above 2 bytes
        }
    }
    if (path.size() > kMaxOutputPathBytes) path.resize(kMaxOutputPathBytes);
    return path;
}

}  // namespace quill
