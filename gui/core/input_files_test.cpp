#include "input_files.h"

#include <gtest/gtest.h>

#include "argument_line.h"
#include "test_support.h"

namespace quill::gui {
namespace {

using testing::file_exists;
using testing::read_file;
using testing::TempDir;
using Words = std::vector<std::string>;

// n paths of exactly `len` bytes each, all different.
Words paths_of(size_t n, size_t len) {
    Words out;
    for (size_t i = 0; i < n; ++i) {
        std::string p = "D:\\" + std::to_string(i) + "_";
        p.resize(len, 'x');
        out.push_back(p);
    }
    return out;
}

class ListFile : public ::testing::Test {
protected:
    TempDir dir;
    std::string list_path = dir.file("QuillodineGUI.lst");
};

TEST_F(ListFile, OnePathPerCrLfLineAndTheFlistText) {
    int count = -1;
    EXPECT_EQ(write_list_file({"D:\\a b.ts", "E:\\録画.ts"}, list_path, count),
              "-FLIST \"" + list_path + "\"");
    EXPECT_EQ(count, 2);
    EXPECT_EQ(read_file(list_path), "D:\\a b.ts\r\nE:\\録画.ts\r\n");

    // Rewritten whole, never appended to.
    write_list_file({"x"}, list_path, count);
    EXPECT_EQ(read_file(list_path), "x\r\n");
    EXPECT_EQ(count, 1);
}

TEST_F(ListFile, FailureGivesEmptyTextAndNoFiles) {
    int count = 5;
    EXPECT_EQ(write_list_file({"a"}, dir.file("no/such/dir.lst"), count), "");
    EXPECT_EQ(count, 0);
    if (file_exists("/dev/full")) {  // opens fine, every write fails
        count = 5;
        EXPECT_EQ(write_list_file(paths_of(3, 100), "/dev/full", count), "");
        EXPECT_EQ(count, 0);
    }
}

TEST(JoinPaths, OneBareSeveralQuoted) {
    JoinedInput one = join_paths({"D:\\tv\\a b.ts"});
    EXPECT_EQ(one.text, "D:\\tv\\a b.ts");
    EXPECT_FALSE(one.overflow);

    JoinedInput three = join_paths({"D:\\a.ts", "D:\\b c.ts", "E:\\d.ts"});
    EXPECT_EQ(three.text, "\"D:\\a.ts\" \"D:\\b c.ts\" \"E:\\d.ts\"");
    EXPECT_EQ(three.paths.size(), 3u);
    EXPECT_FALSE(three.overflow);
    EXPECT_EQ(build_argument_line(Settings{}, three.text, 0, {}).file_count, 3);
}

TEST(JoinPaths, The1500ByteRuleStopsForGoodButCollectsEverything) {
    struct Case {
        const char* name;
        Words paths;
        bool overflow;
    } cases[] = {
        // 3 paths of 497 bytes: (0+497+3) + (499+497+3) + (999+497+3) = 1499 fits.
        {"just fits", paths_of(3, 497), false},
        // 3 paths of 498 bytes: the third would need 1500 + 1 + ... and stops.
        {"one byte over", paths_of(3, 498), true},
        {"single long path", paths_of(1, 1498), true},
        {"single path at the limit", paths_of(1, 1497), false},
    };
    for (const Case& c : cases) {
        JoinedInput j = join_paths(c.paths);
        EXPECT_EQ(j.overflow, c.overflow) << c.name;
        EXPECT_EQ(j.paths, c.paths) << c.name;
        EXPECT_LE(j.text.size(), kJoinedInputMax) << c.name;
    }
    // A short path after the rule stopped the joining is not joined either.
    Words paths = paths_of(3, 600);
    paths.push_back("D:\\s.ts");
    JoinedInput j = join_paths(paths);
    EXPECT_TRUE(j.overflow);
    EXPECT_EQ(j.text.find("s.ts"), std::string::npos);
}

TEST_F(ListFile, ManyDroppedPathsGoToTheListFileAndTheArgumentLine) {
    const Words paths = paths_of(40, 60);
    int count = 0;
    const std::string field = input_field_text(join_paths(paths), list_path, count);
    EXPECT_EQ(field, "-FLIST \"" + list_path + "\"");
    EXPECT_EQ(count, 40);
    std::string want;
    for (const std::string& p : paths) want += p + "\r\n";
    EXPECT_EQ(read_file(list_path), want);

    ArgumentLine r = build_argument_line(Settings{}, field, count, {});
    EXPECT_EQ(r.line, "-EIT -ECM -EMM -SD -1SEG -FLIST \"" + list_path + "\"");
    EXPECT_EQ(r.file_count, 40);
    EXPECT_TRUE(r.convert_enabled);

    // Few paths leave the list file alone.
    count = 9;
    EXPECT_EQ(input_field_text(join_paths({"a", "b"}), dir.file("other.lst"), count),
              "\"a\" \"b\"");
    EXPECT_FALSE(file_exists(dir.file("other.lst")));
    EXPECT_EQ(count, 9);
}

TEST(CommandLineWords, BlanksSeparateAndQuotesKeepBlanks) {
    struct Case {
        const char* line;
        Words want;
    } cases[] = {
        {"", {}},
        {"D:\\a.ts", {"D:\\a.ts"}},
        {"D:\\a.ts  E:\\b.ts ", {"D:\\a.ts", "E:\\b.ts"}},
        {"\"D:\\my rec\\a.ts\" E:\\b.ts", {"D:\\my rec\\a.ts", "E:\\b.ts"}},
        {"\"D:\\unterminated rec", {"D:\\unterminated rec"}},
        {"\"a\"\"b c\"", {"a", "b c"}},
        {"\"\" a", {"a"}},
    };
    for (const Case& c : cases) EXPECT_EQ(split_command_line(c.line), c.want) << c.line;
}

TEST(CommandLineWords, FirstWordBareThenEveryWordQuoted) {
    EXPECT_EQ(join_command_line_words({"D:\\a b.ts"}).text, "D:\\a b.ts");
    EXPECT_EQ(join_command_line_words({"D:\\a.ts", "E:\\b c.ts"}).text,
              "\"D:\\a.ts\" \"E:\\b c.ts\"");
    EXPECT_EQ(join_command_line_words({"a", "b", "c"}).text, "\"a\" \"b\" \"c\"");

    // The rule is tested from the third word on.
    JoinedInput two_long = join_command_line_words(paths_of(2, 900));
    EXPECT_FALSE(two_long.overflow);
    JoinedInput three_long = join_command_line_words(paths_of(3, 700));
    EXPECT_TRUE(three_long.overflow);
    EXPECT_EQ(three_long.paths.size(), 3u);
}

TEST(OpenDialog, OneFullPathOrFolderAndNames) {
    using namespace std::string_literals;
    EXPECT_EQ(paths_from_open_dialog("D:\\tv\\a.ts\0\0"s), Words{"D:\\tv\\a.ts"});
    EXPECT_EQ(paths_from_open_dialog("D:\\tv\0a.ts\0b c.ts\0\0"s),
              (Words{"D:\\tv\\a.ts", "D:\\tv\\b c.ts"}));
    EXPECT_EQ(paths_from_open_dialog("\0\0"s), Words{});
    // A choice in a drive root: the folder ends in its backslash, which is not doubled.
    EXPECT_EQ(paths_from_open_dialog("C:\\\0a.ts\0b.ts\0\0"s), (Words{"C:\\a.ts", "C:\\b.ts"}));
}

TEST(FrontEndFiles, BesideTheExecutable) {
    FrontEndPaths p = front_end_paths("C:\\Tools\\q.v2\\MyGui.exe");
    EXPECT_EQ(p.ini, "C:\\Tools\\q.v2\\MyGui.ini");
    EXPECT_EQ(p.console, "C:\\Tools\\q.v2\\Quillodine.exe");
    EXPECT_EQ(p.list, "C:\\Tools\\q.v2\\QuillodineGUI.lst");
    EXPECT_EQ(front_end_paths("/opt/q/QuillodineGUI").ini, "/opt/q/QuillodineGUI.ini");
}

}  // namespace
}  // namespace quill::gui
