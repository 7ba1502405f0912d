// Output file names: input base name + suffix pieces + extension, shortened under -FLEN/-UNI.
#pragma once
#include <string>

#include "state/options.h"
#include "state/run_state.h"

namespace quill {

constexpr std::size_t kMaxOutputPathBytes = 1022;
constexpr std::size_t kNameLengthLimit = 255;

// Only the base name is ever shortened, one whole character at a time, while the whole path is
// longer than 255 bytes (counted as UTF-16 x 2 under -UNI) and the base name is longer than 2 bytes.
std::string build_output_name(const Options& options, const std::string& drive, const std::string& folder,
                              const std::string& base, const std::string& suffix, const std::string& ext);

// The path of slot `slot`'s file after `split_number` splits: the input's name, the slot's suffix,
// "(service id)" for an assigned CS slot, "-n" for n splits, "-a<n>" for the n-th audio mode met,
// shortened as every output name.
std::string slot_file_path(const RunState& run, int slot, int split_number = 0, int audio_number = 0);

}  // namespace quill
