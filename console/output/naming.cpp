#include "output/naming.h"

#include <cstdio>

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

std::string slot_file_path(const RunState& run, int slot, int split_number, int audio_number) {
    const OutputStream& s = run.outputs[static_cast<std::size_t>(slot)];
    std::string suffix = s.file.suffix;
    char piece[32];
    if (run.options.cs_mode && slot >= kFirstMultiSlot && s.programme.service_id != 0) {
        std::snprintf(piece, sizeof piece, "(%d)", s.programme.service_id);
        suffix += piece;
    }
    if (split_number > 0) {
        std::snprintf(piece, sizeof piece, "-%d", split_number);
        suffix += piece;
    }
    if (audio_number > 0) {
        std::snprintf(piece, sizeof piece, "-a%d", audio_number);
        suffix += piece;
    }
    const InputFiles& in = run.input;
    return build_output_name(run.options, in.drive, in.folder, in.base, suffix, in.ext);
}

}  // namespace quill
