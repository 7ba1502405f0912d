// The console program's option record, filled by the command line and then read by every layer.
#pragma once
#include <array>
#include <cstddef>
#include <string>

namespace quill {

// Longest input path or list-file line taken (bytes); longer ones are refused, never cut.
constexpr std::size_t kMaxPathBytes = 1021;
// Values taken from a -PID or -CS list; further ones are ignored.
constexpr int kMaxOptionValues = 20;
// SD outputs -SD1 ... can turn off, one flag per SD number.
constexpr int kSdNumbers = 20;

struct Options {
    int keep_eit = 0;
    int keep_ecm = 0;
    int keep_emm = 0;
    int buffer_mb = 10;
    std::string output_folder;
    int hd_enabled = 1;
    int oneseg_enabled = 1;
    std::array<int, kSdNumbers> sd_enabled{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    int null_only = 0;
    int split_on_programme = 0;
    int split_on_pmt = 0;
    int audio_split = 0;
    int audio_split_separate = 0;
    int overlap_before_k = 0;
    int overlap_after_k = 0;
    int overlap_drop_prior = 0;
    int overlap_on_video_change = 0;
    int gop_list = 0;
    int gop_only = 0;
    int gop_channel = 0;
    int gop_time = 0;
    int gop_annotated = 0;
    int rewrite_pts = 0;
    int collect_stats = 0;
    int log_screen = 0;
    int log_file = 0;
    int descramble_mode = 0;
    int descramble_emm = 0;
    int limit_name_length = 0;
    int count_name_as_utf16 = 0;
    int wait_enabled = 0;
    int wait_adaptive = 0;
    int wait_msec = 10;
    std::array<unsigned, kMaxOptionValues> keep_pids{};
    int keep_pid_count = 0;
    int keep_pid_min = 32767;
    int keep_pid_max = 0;
    int keep_pids_active = 0;
    int cs_mode = 0;
    std::array<int, kMaxOptionValues> cs_services{};
    int cs_service_count = 0;

    bool operator==(const Options&) const = default;
};

}  // namespace quill
