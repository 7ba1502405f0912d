// The whole console program in-process on one small recording: the input is written to a file and
// the program runs over it with a fixed option set (chosen when the target is built), twice in
// one list so that the second input starts from what the first one left behind.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "fixture.h"
#include "job/entry.h"

namespace {

std::vector<std::string> option_set(const std::string& name) {
    if (name == "split")  // programme/PMT and audio splits with overlaps, GOP lists, -PTS, statistics
        return {"-SEP2", "-OVL1,1,0,1", "-SEPA2", "-GOPCH", "-PTS", "-LOG", "-BUFF", "1"};
    if (name == "tables")  // every table kept, CS services listed, list files and log files
        return {"-EIT", "-ECM", "-EMM", "-PID1F,12,1FFF", "-CS211,213", "-SEP3", "-OVL0,-1", "-GOPTIME",
                "-LOGFILE", "-BUFF", "0"};
    return {"-NULL", "-PTS", "-GOP", "-BUFF", "1"};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::silence_stdout();
    const std::string& folder = fuzz::scratch_folder();
    const std::string input = folder + "/rec.ts";
    static const int out_made = mkdir((folder + "/out").c_str(), 0700);
    (void)out_made;
    std::FILE* f = std::fopen(input.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    std::vector<std::string> args = {"Quillodine"};
    for (const auto& a : option_set(QUILL_FUZZ_OPTIONS)) args.push_back(a);
    args.insert(args.end(), {"-OUT", folder + "/out", input, input});
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const int code = quill::run_program(static_cast<int>(args.size()), argv.data());
    if (code != 0 && code != 2) std::abort();  // 1 is for the command line, which is fixed here
    return 0;
}
