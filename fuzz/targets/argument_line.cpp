// The front end's argument line: every switch, text and radio group of the panel and the input
// field from the input, the free-space query answering with whatever the input says.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "argument_line.h"
#include "settings.h"

using namespace quill::gui;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Settings s;
    for (bool Settings::*b : {&Settings::eit, &Settings::ecm, &Settings::emm, &Settings::hd, &Settings::sd,
                              &Settings::sd1, &Settings::sd2, &Settings::sd3, &Settings::one_seg, &Settings::cs,
                              &Settings::pid, &Settings::null_only, &Settings::out, &Settings::buff, &Settings::ovl,
                              &Settings::sepa_cut, &Settings::pts, &Settings::b25_emm, &Settings::flen, &Settings::uni})
        s.*b = in.ConsumeBool();
    for (int Settings::*r : {&Settings::sep, &Settings::sepa, &Settings::gop, &Settings::gopch, &Settings::goptime,
                             &Settings::b25, &Settings::log, &Settings::wait})
        s.*r = in.ConsumeIntegralInRange<int>(-1, 4);
    for (std::string Settings::*t : {&Settings::cs_service_no, &Settings::pid_no, &Settings::out_path,
                                     &Settings::buff_size, &Settings::ovl_set, &Settings::wait_msec,
                                     &Settings::wait2_msec})
        s.*t = in.ConsumeRandomLengthString(kOptionTextMax + 8);
    const int file_count = in.ConsumeIntegralInRange<int>(-2, 100000);
    const bool space_known = in.ConsumeBool();
    const std::uint64_t space = in.ConsumeIntegral<std::uint64_t>();
    const std::string input = in.ConsumeRemainingBytesAsString();
    FreeSpaceQuery free_space = [&](std::string_view) -> std::optional<std::uint64_t> {
        if (!space_known) return std::nullopt;
        return space;
    };
    ArgumentLine line = build_argument_line(s, input, file_count, free_space);
    (void)line;
    count_quoted_names(input);
    drive_part(input);
    free_space_label(input, free_space);
    free_space_status(input, free_space);
    return 0;
}
