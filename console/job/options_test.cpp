#include "job/options.h"
#include "platform/path.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace quill {
namespace {

ParseResult parse(std::initializer_list<const char*> args, Options& o) {
    std::vector<const char*> argv{"Quillodine"};
    argv.insert(argv.end(), args.begin(), args.end());
    return parse_command_line(static_cast<int>(argv.size()), argv.data(), o);
}

Options parsed(std::initializer_list<const char*> args) {
    Options o;
    parse(args, o);
    return o;
}

TEST(OptionsTest, WholeWordOptionsIgnoreCaseAndNeverMatchTheirRelatives) {
    EXPECT_EQ(parsed({"-sepa2c", "x"}).audio_split, 2);
    EXPECT_EQ(parsed({"-sepa2c", "x"}).audio_split_separate, 1);
    Options o = parsed({"-SEPA2X", "x"});
    EXPECT_EQ(o.audio_split, 0);
    o = parsed({"-SEPA", "x"});
    EXPECT_EQ(o.audio_split, 1);
    EXPECT_EQ(o.audio_split_separate, 0);
    o = parsed({"-SEPA3C", "-SEPA", "x"});  // later options overwrite field by field
    EXPECT_EQ(o.audio_split, 1);
    EXPECT_EQ(o.audio_split_separate, 0);
    o = parsed({"-SEP2", "-SEP3", "x"});
    EXPECT_EQ(o.split_on_programme, 0);
    EXPECT_EQ(o.split_on_pmt, 1);
    o = parsed({"-SD8", "-SD3", "-sd1", "x"});  // only -SD1 .. -SD7 exist
    EXPECT_EQ(o.sd_enabled[0], 0);
    EXPECT_EQ(o.sd_enabled[1], 1);
    EXPECT_EQ(o.sd_enabled[2], 0);
    EXPECT_EQ(o.sd_enabled[7], 1);
    o = parsed({"-SD", "x"});
    for (int v : o.sd_enabled) EXPECT_EQ(v, 0);
}

TEST(OptionsTest, GopOptionsCombineAsLaterOverwritesEarlier) {
    Options o = parsed({"-GOPCH", "-GOPTIME", "x"});
    EXPECT_EQ(o.gop_channel, 1);
    EXPECT_EQ(o.gop_time, 1);
    EXPECT_EQ(o.gop_annotated, 1);
    o = parsed({"-GOPCH", "-GOP", "x"});
    EXPECT_EQ(o.gop_channel, 0);
    EXPECT_EQ(o.gop_annotated, 0);
    EXPECT_EQ(o.gop_list, 1);
    o = parsed({"-GOPONLYTIME", "x"});
    EXPECT_EQ(o.gop_only, 1);
    EXPECT_EQ(o.null_only, 1);
    EXPECT_EQ(o.gop_time, 1);
    EXPECT_EQ(o.gop_channel, 0);
}

TEST(OptionsTest, WaitValues) {
    struct Case {
        const char* arg;
        int enabled, adaptive, msec;
    } cases[] = {
        {"-WAIT", 1, 0, 10},     {"-WAIT,20", 1, 0, 20}, {"-WAIT20", 1, 1, 0},  // -WAIT20 is -WAIT2 with "0" skipped
        {"-WAIT2", 1, 1, 10},    {"-WAIT2,0", 1, 1, 0},  {"-wait2,35", 1, 1, 35},
        {"-WAIT,abc", 1, 0, 0},
    };
    for (const Case& c : cases) {
        Options o = parsed({c.arg, "x"});
        EXPECT_EQ(o.wait_enabled, c.enabled) << c.arg;
        EXPECT_EQ(o.wait_adaptive, c.adaptive) << c.arg;
        EXPECT_EQ(o.wait_msec, c.msec) << c.arg;
    }
}

TEST(OptionsTest, OverlapFields) {
    Options o = parsed({"-OVL5,7,0", "x"});
    EXPECT_EQ(o.overlap_before_k, 5);
    EXPECT_EQ(o.overlap_after_k, 7);
    EXPECT_EQ(o.overlap_drop_prior, 1);
    EXPECT_EQ(o.overlap_on_video_change, 0);
    o = parsed({"-OVL5,7,0,1", "-OVL", "x"});  // -OVL alone changes nothing
    EXPECT_EQ(o.overlap_before_k, 5);
    EXPECT_EQ(o.overlap_on_video_change, 1);
    o = parsed({"-OVL5,7,0,2", "-OVL,,1", "x"});
    EXPECT_EQ(o.overlap_before_k, 0);
    EXPECT_EQ(o.overlap_after_k, 0);
    EXPECT_EQ(o.overlap_drop_prior, 0);
    EXPECT_EQ(o.overlap_on_video_change, 0);  // 2 is not 1
    o = parsed({"-OVL3,-2", "x"});
    EXPECT_EQ(o.overlap_after_k, -2);
    o = parsed({"-OVL9", "x"});  // absent fields keep their values
    EXPECT_EQ(o.overlap_after_k, 0);
}

TEST(OptionsTest, PidAndCsLists) {
    Options o = parsed({"-PID1F,20", "x"});
    EXPECT_EQ(o.keep_pid_count, 2);
    EXPECT_EQ(o.keep_pids[0], 0x1Fu);
    EXPECT_EQ(o.keep_pids[1], 0x20u);
    EXPECT_EQ(o.keep_pid_min, 0x1F);
    EXPECT_EQ(o.keep_pid_max, 0x20);
    EXPECT_EQ(o.keep_pids_active, 1);

    o = parsed({"-PID0,1F", "x"});
    EXPECT_EQ(o.keep_pid_count, 1);
    EXPECT_EQ(o.keep_pids[0], 0x1Fu);
    o = parsed({"-PID0", "x"});
    EXPECT_EQ(o.keep_pids_active, 0);

    o = parsed({"-PID10,1FF0", "-PID30", "x"});  // the list is replaced, the bounds are not
    EXPECT_EQ(o.keep_pid_count, 1);
    EXPECT_EQ(o.keep_pids[0], 0x30u);
    EXPECT_EQ(o.keep_pid_min, 0x10);
    EXPECT_EQ(o.keep_pid_max, 0x1FF0);

    o = parsed({"-CS211,212", "x"});
    EXPECT_EQ(o.cs_mode, 1);
    EXPECT_EQ(o.cs_service_count, 2);
    EXPECT_EQ(o.cs_services[1], 212);
    o = parsed({"-CS211,212", "-CS", "x"});  // -CS alone keeps the earlier list
    EXPECT_EQ(o.cs_service_count, 2);
    o = parsed({"-CS1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22", "x"});
    EXPECT_EQ(o.cs_service_count, 20);
}

TEST(OptionsTest, ValueOptionsAndInputs) {
    Options o;
    ParseResult r = parse({"a.ts", "-BUFF", "4096", "-OUT", "/out", "-unknown", "b.ts"}, o);
    EXPECT_EQ(r.status, ParseStatus::Ok);
    EXPECT_EQ(o.buffer_mb, 4096);
    EXPECT_EQ(o.output_folder, std::string("/out") + kPathSeparator);  // the system's own separator
    ASSERT_EQ(r.inputs.size(), 2u);
    EXPECT_EQ(r.inputs[1].path, "b.ts");
    EXPECT_EQ(parsed({"-OUT", "/out/", "x"}).output_folder, "/out/");
    // The front end strips the separator of "D:\\": the drive alone still names its root.
    EXPECT_EQ(parsed({"-OUT", "D:", "x"}).output_folder, std::string("D:") + kPathSeparator);
    EXPECT_EQ(parsed({"-BUFF", "x12", "x"}).buffer_mb, 0);
    // A value option consumes the next argument whatever it is.
    o = Options{};
    r = parse({"-OUT", "-HD", "x"}, o);
    EXPECT_EQ(o.hd_enabled, 1);
    EXPECT_EQ(o.output_folder, std::string("-HD") + kPathSeparator);
}

TEST(OptionsTest, UsageConditions) {
    Options o;
    EXPECT_EQ(parse_command_line(1, std::vector<const char*>{"Quillodine"}.data(), o).status, ParseStatus::Usage);
    o = Options{};
    EXPECT_EQ(parse({"x.ts", "-BUFF"}, o).status, ParseStatus::Usage);
    o = Options{};
    EXPECT_EQ(parse({"-EIT"}, o).status, ParseStatus::Usage);
    o = Options{};
    EXPECT_EQ(parse({"-OVL-1,0", "x.ts"}, o).status, ParseStatus::NegativeOverlap);
    o = Options{};
    EXPECT_EQ(parse({"-OVL-1,0"}, o).status, ParseStatus::NegativeOverlap);
}

TEST(OptionsTest, ListFileLines) {
    const std::string list = ::testing::TempDir() + "quill_list.lst";
    {
        std::ofstream f(list, std::ios::binary);
        f << "\"/rec/a b.ts\"\r\n  lead.ts\n\n-dash.ts\n" << std::string(1100, 'x') << "\nlast.ts";
    }
    Options o;
    ParseResult r = parse({"first.ts", "-FLIST", list.c_str(), "after.ts"}, o);
    ASSERT_EQ(r.inputs.size(), 8u);
    EXPECT_EQ(r.inputs[0].path, "first.ts");
    EXPECT_EQ(r.inputs[1].path, "/rec/a b.ts");
    EXPECT_EQ(r.inputs[2].path, "  lead.ts");  // leading blanks are kept
    EXPECT_EQ(r.inputs[3].path, "");           // an empty line is an input that cannot be opened
    EXPECT_EQ(r.inputs[4].path, "-dash.ts");
    EXPECT_TRUE(r.inputs[5].too_long);         // never cut into another path
    EXPECT_EQ(r.inputs[5].path.size(), 1100u);
    EXPECT_EQ(r.inputs[6].path, "last.ts");
    EXPECT_EQ(r.inputs[7].path, "after.ts");  // list entries stand where the option stood
    EXPECT_EQ(parse({"-FLIST", "/nonexistent/list.lst"}, o).status, ParseStatus::Usage);
    std::remove(list.c_str());
}

// The manual page is held to the option table: a name there that the parser does not act on (a typo,
// a removed option) would document an option that does nothing.
TEST(OptionsTest, EveryNameOfTheOptionTableIsActedOn) {
    Options plain;
    const ParseResult plain_result = parse({"x"}, plain);
    for (const OptionName& option : kOptionNames) {
        const std::string glued = std::string(option.name) + "1";
        Options o;
        const ParseResult r = option.form == OptionForm::Glued      ? parse({glued.c_str(), "x"}, o)
                              : option.form == OptionForm::NextValue ? parse({option.name, "1", "x"}, o)
                                                                     : parse({option.name, "x"}, o);
        EXPECT_TRUE(o != plain || r.list_files != plain_result.list_files) << option.name;
    }
}

TEST(OptionsTest, NumberConversionsFollowTheCLibrary) {
    EXPECT_EQ(parse_decimal("  -12abc"), -12);
    EXPECT_EQ(parse_decimal("+7"), 7);
    EXPECT_EQ(parse_decimal(""), 0);
    EXPECT_EQ(parse_decimal("99999999999999"), 2147483647);
    const char* end = nullptr;
    EXPECT_EQ(parse_hex("1fG", &end), 0x1Fu);
    EXPECT_EQ(*end, 'G');
    EXPECT_EQ(parse_hex("0x20", nullptr), 0x20u);
    EXPECT_EQ(parse_hex("zz", nullptr), 0u);
}

}  // namespace
}  // namespace quill
