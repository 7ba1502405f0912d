#include "argument_line.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace quill::gui {
namespace {

constexpr std::uint64_t kGiB = 1073741824ull;

FreeSpaceQuery fixed_free(std::optional<std::uint64_t> bytes, std::string* asked = nullptr) {
    return [bytes, asked](std::string_view drive) {
        if (asked) *asked = std::string(drive);
        return bytes;
    };
}

std::string line_for(const std::function<void(Settings&)>& change, std::string_view input = "") {
    Settings s;
    change(s);
    return build_argument_line(s, input, 0, fixed_free(kGiB * 2)).line;
}

TEST(ArgumentLine, DefaultsWithOnePathGiveTheDocumentedLine) {
    ArgumentLine r = build_argument_line(Settings{}, "D:\\tv\\rec.ts", 0, fixed_free(0));
    EXPECT_EQ(r.line, "-EIT -ECM -EMM -SD -1SEG \"D:\\tv\\rec.ts\"");
    EXPECT_EQ(r.file_count, 1);
    EXPECT_TRUE(r.convert_enabled);
    EXPECT_EQ(r.free_space_label, "");
}

// Options and their order, from the panel alone (input field empty).
TEST(ArgumentLine, OptionsFollowThePanel) {
    const std::string base = "-EIT -ECM -EMM -SD -1SEG ";
    struct Case {
        const char* name;
        std::function<void(Settings&)> change;
        std::string want;
    } cases[] = {
        {"nothing kept", [](Settings& s) { s.eit = s.ecm = s.emm = s.hd = false; },
         "-HD -SD -1SEG "},
        {"all SD kept ignores members",
         [](Settings& s) { s.sd = true, s.sd1 = false, s.sd2 = true; }, "-EIT -ECM -EMM -1SEG "},
        {"only SD2 kept", [](Settings& s) { s.sd2 = true; }, "-EIT -ECM -EMM -SD1 -SD3 -1SEG "},
        {"SD1 and SD3 kept", [](Settings& s) { s.sd1 = s.sd3 = true; },
         "-EIT -ECM -EMM -SD2 -1SEG "},
        {"one-seg kept", [](Settings& s) { s.one_seg = true; }, "-EIT -ECM -EMM -SD "},
        {"CS list", [](Settings& s) { s.cs = true, s.cs_service_no = "211,212"; },
         base + "-CS211,212 "},
        {"CS empty", [](Settings& s) { s.cs = true; }, base + "-CS "},
        {"CS text without switch", [](Settings& s) { s.cs_service_no = "211"; }, base},
        {"PID", [](Settings& s) { s.pid = true, s.pid_no = "1FC8"; }, base + "-PID1FC8 "},
        {"PID empty", [](Settings& s) { s.pid = true; }, base + "-PID "},
        {"NULL", [](Settings& s) { s.null_only = true; }, base + "-NULL "},
        {"output folder trailing backslashes",
         [](Settings& s) { s.out = true, s.out_path = "D:\\out dir\\\\"; },
         base + "-OUT \"D:\\out dir\" "},
        {"output folder of backslashes only", [](Settings& s) { s.out = true, s.out_path = "\\\\"; },
         base},
        {"output folder switch off", [](Settings& s) { s.out_path = "D:\\x"; }, base},
        {"buffer", [](Settings& s) { s.buff = true, s.buff_size = "32"; }, base + "-BUFF 32 "},
        {"buffer empty", [](Settings& s) { s.buff = true; }, base},
        {"SEP2", [](Settings& s) { s.sep = 2; }, base + "-SEP2 "},
        {"overlap with SEP", [](Settings& s) { s.sep = 1, s.ovl = true; },
         base + "-SEP -OVL5,7,0 "},
        {"overlap without SEP", [](Settings& s) { s.ovl = true; }, base},
        {"overlap empty text", [](Settings& s) { s.sep = 3, s.ovl = true, s.ovl_set = ""; },
         base + "-SEP3 "},
        {"SEPA3", [](Settings& s) { s.sepa = 3; }, base + "-SEPA3 "},
        {"SEPA2 separate files", [](Settings& s) { s.sepa = 2, s.sepa_cut = true; },
         base + "-SEPA2C "},
        {"SEPACUT alone", [](Settings& s) { s.sepa_cut = true; }, base},
        {"three GOP lists", [](Settings& s) { s.goptime = 1, s.gop = 2, s.gopch = 1; },
         base + "-GOPONLY -GOPCH -GOPTIME "},
        {"GOP only lists", [](Settings& s) { s.gopch = 2, s.goptime = 2; },
         base + "-GOPONLYCH -GOPONLYTIME "},
        {"PTS", [](Settings& s) { s.pts = true; }, base + "-PTS "},
        {"B253 with EMM", [](Settings& s) { s.b25 = 3, s.b25_emm = true; },
         base + "-B253 -B25EMM "},
        {"B25EMM without B25", [](Settings& s) { s.b25_emm = true; }, base},
        {"LOGFILE", [](Settings& s) { s.log = 2; }, base + "-LOGFILE "},
        {"FLEN UNI", [](Settings& s) { s.flen = s.uni = true; }, base + "-FLEN -UNI "},
        {"UNI without FLEN", [](Settings& s) { s.uni = true; }, base},
        {"WAIT empty", [](Settings& s) { s.wait = 1; }, base + "-WAIT "},
        {"WAIT 100", [](Settings& s) { s.wait = 1, s.wait_msec = "100"; }, base + "-WAIT,100 "},
        {"WAIT2 50 ignores WAIT text",
         [](Settings& s) { s.wait = 2, s.wait_msec = "100", s.wait2_msec = "50"; },
         base + "-WAIT2,50 "},
        {"all in order",
         [](Settings& s) {
             s.hd = false, s.cs = true, s.pid = true, s.pid_no = "100", s.null_only = true;
             s.out = true, s.out_path = "E:", s.buff = true, s.buff_size = "8", s.sep = 1;
             s.ovl = true, s.sepa = 1, s.gop = 1, s.pts = true, s.b25 = 1, s.b25_emm = true;
             s.log = 1, s.flen = true, s.wait = 2;
         },
         "-EIT -ECM -EMM -HD -SD -1SEG -CS -PID100 -NULL -OUT \"E:\" -BUFF 8 -SEP -OVL5,7,0 "
         "-SEPA -GOP -PTS -B25 -B25EMM -LOG -FLEN -WAIT2 "},
    };
    for (const Case& c : cases) EXPECT_EQ(line_for(c.change), c.want) << c.name;
}

TEST(ArgumentLine, SecondClickOnARadioMemberRemovesItsOption) {
    Settings s;
    click_radio_member(s.log, 1);
    EXPECT_NE(build_argument_line(s, "", 0, {}).line.find("-LOG "), std::string::npos);
    click_radio_member(s.log, 1);
    EXPECT_EQ(build_argument_line(s, "", 0, {}).line.find("-LOG"), std::string::npos);
}

TEST(ArgumentLine, OptionTextsUseAtMost1023Bytes) {
    Settings s;
    s.cs = true;
    s.cs_service_no = std::string(2000, '1');
    EXPECT_EQ(build_argument_line(s, "", 0, {}).line,
              "-EIT -ECM -EMM -SD -1SEG -CS" + std::string(1023, '1') + " ");
}

TEST(ArgumentLine, DependentControlsFollowTheirMasters) {
    Settings s;
    DependentControls none;
    EXPECT_EQ(build_argument_line(s, "", 0, {}).enabled, none);

    s.sd = s.cs = s.pid = s.out = s.buff = s.ovl = s.flen = true;
    s.sep = 2, s.sepa = 1, s.b25 = 2, s.wait = 1;
    DependentControls all_on{false, true, true, true, true, true, true, true, true, true, true, false};
    EXPECT_EQ(build_argument_line(s, "", 0, {}).enabled, all_on);

    s.ovl = false, s.wait = 2;
    DependentControls r = build_argument_line(s, "", 0, {}).enabled;
    EXPECT_TRUE(r.ovl);
    EXPECT_FALSE(r.ovl_text);
    EXPECT_FALSE(r.wait_text);
    EXPECT_TRUE(r.wait2_text);
}

TEST(ArgumentLine, InputFieldDecidesInputPartFileCountAndConvertButton) {
    const std::string base = "-EIT -ECM -EMM -SD -1SEG ";
    struct Case {
        const char* input;
        std::string want_tail;
        int want_count;  // the count before is 7
        bool convert;
    } cases[] = {
        {"", "", 7, false},
        {"   ", "", 7, false},
        {"D:\\my rec\\a b.ts", "\"D:\\my rec\\a b.ts\"", 1, true},
        {"  D:\\a.ts   ", "\"D:\\a.ts\"", 1, true},
        {"\"D:\\a.ts\" \"D:\\b c.ts\"", "\"D:\\a.ts\" \"D:\\b c.ts\"", 2, true},
        {"  \"D:\\a.ts\"  ", "\"D:\\a.ts\"", 1, true},
        {"\"D:\\a.ts\" \"D:\\b", "\"D:\\a.ts\" \"D:\\b", 2, true},
        {"-FLIST \"C:\\q\\QuillodineGUI.lst\"", "-FLIST \"C:\\q\\QuillodineGUI.lst\"", 7, true},
        {"-FLISTx", "-FLISTx", 7, true},
        {"\"", "\"", 0, true},
        {"D:\\a.ts\t", "\"D:\\a.ts\t\"", 1, true},  // only 0x20 is a blank
    };
    for (const Case& c : cases) {
        ArgumentLine r = build_argument_line(Settings{}, c.input, 7, {});
        EXPECT_EQ(r.line, base + c.want_tail) << '[' << c.input << ']';
        EXPECT_EQ(r.file_count, c.want_count) << '[' << c.input << ']';
        EXPECT_EQ(r.convert_enabled, c.convert) << '[' << c.input << ']';
    }
}

TEST(QuotedNames, QuotesPairInOrderAndALastUnpairedOneCounts) {
    struct Case {
        const char* text;
        int want;
    } cases[] = {
        {"\"a\"", 1},          {"\"a\" \"b\"", 2},   {"\"a\" \"b\" \"c\"", 3},
        {"\"a\" \"b", 2},      {"\"", 0},            {"\"\"", 1},
        {"\"a\"\"b\"", 2},     {"\"a b\" x \"c\"", 2},
    };
    for (const Case& c : cases) EXPECT_EQ(count_quoted_names(c.text), c.want) << c.text;
}

TEST(FreeSpace, ValuesUnitsAndDecimals) {
    struct Case {
        std::uint64_t bytes;
        const char* label;
    } cases[] = {
        {990 * kGiB, "(空きディスク領域 990 GB)"},
        {kGiB * 3 / 2, "(空きディスク領域 1.50 GB)"},
        {kGiB, "(空きディスク領域 1024 MB)"},
        {kGiB * 25, "(空きディスク領域 25.0 GB)"},
        {1048577, "(空きディスク領域 1.00 MB)"},
        {1048576, "(空きディスク領域 1024 KB)"},
        {1536, "(空きディスク領域 1.50 KB)"},
        {1024, "(空きディスク領域 1024 B)"},
        {0, "(空きディスク領域 0 B)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(free_space_label("D:\\out", fixed_free(c.bytes)), c.label) << c.bytes;
    }
}

TEST(FreeSpace, DriveIsAskedForAndFailureIsEmptyOrThePath) {
    std::string asked = "unset";
    EXPECT_EQ(free_space_status("c:\\tv", fixed_free(990 * kGiB, &asked)),
              "[c:\\] : (空きディスク領域 990 GB)");
    EXPECT_EQ(asked, "c:");
    free_space_label("\\\\server\\share", fixed_free(1, &asked));
    EXPECT_EQ(asked, "");
    EXPECT_EQ(free_space_label("D:\\x", fixed_free(std::nullopt)), "");
    EXPECT_EQ(free_space_status("D:\\x", fixed_free(std::nullopt)), "D:\\x");
}

TEST(FreeSpace, LabelFollowsTheOutputFolderOnly) {
    Settings s;
    s.out = true;
    s.out_path = "E:\\rec\\";
    std::string asked;
    ArgumentLine r = build_argument_line(s, "", 0, fixed_free(kGiB * 3 / 2, &asked));
    EXPECT_EQ(r.free_space_label, "(空きディスク領域 1.50 GB)");
    EXPECT_EQ(asked, "E:");
    s.out = false;
    EXPECT_EQ(build_argument_line(s, "", 0, fixed_free(kGiB)).free_space_label, "");
}

TEST(ChildCommandLine, QuotedProgramBlankAndArguments) {
    EXPECT_EQ(child_command_line("C:\\q\\Quillodine.exe", ""), "\"C:\\q\\Quillodine.exe\" ");
    EXPECT_EQ(child_command_line("C:\\q\\Quillodine.exe", "-EIT \"a.ts\""),
              "\"C:\\q\\Quillodine.exe\" -EIT \"a.ts\"");
}

}  // namespace
}  // namespace quill::gui
