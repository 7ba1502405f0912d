#include "ini_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "test_support.h"

namespace quill::gui {
namespace {

using testing::file_exists;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

using testing::StoreFactory;

// The behaviour every INI store must show, whatever serves it (ini_stores_under_test).
class IniBehaviour : public ::testing::TestWithParam<StoreFactory> {
protected:
    TempDir dir;
    std::string path = dir.file("QuillodineGUI.ini");
    std::unique_ptr<IniStore> ini = GetParam().make(path);
};

TEST_P(IniBehaviour, MissingFileGivesDefaultsAndReadsCreateNothing) {
    EXPECT_EQ(ini->get_string("Parameter", "OvlSet", "5,7,0", 512), "5,7,0");
    EXPECT_EQ(ini->get_int("Parameter", "EIT", 1), 1);
    EXPECT_FALSE(file_exists(path));
}

TEST_P(IniBehaviour, FirstWriteCreatesFileAndValueReadsBack) {
    ASSERT_TRUE(ini->write_string("Parameter", "OutPath", "D:\\rec\\"));
    EXPECT_TRUE(file_exists(path));
    EXPECT_EQ(ini->get_string("Parameter", "OutPath", "", 512), "D:\\rec\\");
}

TEST_P(IniBehaviour, SectionsAndKeysMatchWithoutLetterCase) {
    ASSERT_TRUE(ini->write_string("MyProfile", "SepaCut", "1"));
    EXPECT_EQ(ini->get_int("MYPROFILE", "SEPACUT", 0), 1);
    EXPECT_EQ(ini->get_string("myprofile", "sepacut", "", 10), "1");
    // A write under another spelling replaces the same key.
    ASSERT_TRUE(ini->write_string("myprofile", "SEPACUT", "0"));
    EXPECT_EQ(ini->get_int("MyProfile", "SepaCut", 7), 0);
}

TEST_P(IniBehaviour, ValuesAreCutToBufferSizeMinusOne) {
    ASSERT_TRUE(ini->write_string("S", "K", "0123456789"));
    struct Case {
        int size;
        const char* want;
    } cases[] = {{100, "0123456789"}, {11, "0123456789"}, {10, "012345678"}, {2, "0"}, {1, ""}};
    for (const Case& c : cases) {
        EXPECT_EQ(ini->get_string("S", "K", "", c.size), c.want) << "size " << c.size;
    }
    EXPECT_EQ(ini->get_string("S", "Missing", "abcdef", 4), "abc");
}

TEST_P(IniBehaviour, IntegersReadAsTheProfileFunctionsDo) {
    struct Case {
        const char* value;
        int want;
    } cases[] = {
        {"1", 1},   {"0", 0},     {"-1280", -1280}, {"+42", 42}, {"12ab", 12},
        {"ab", 0},  {"  7 ", 7},  {"", 99},         {"0x10", 16}, {"-0x1f", -31}, {"0xg", 0}, {"4294967297", 1},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ini->write_string("S", "K", c.value));
        EXPECT_EQ(ini->get_int("S", "K", 99), c.want) << '"' << c.value << '"';
    }
    EXPECT_EQ(ini->get_int("S", "Missing", -3), -3);
}

TEST_P(IniBehaviour, SectionNamesHoldingBracketsReadBack) {
    ASSERT_TRUE(ini->write_string("[x]y", "EIT", "0"));
    ASSERT_TRUE(ini->write_string("[x]y", "ECM", "0"));
    EXPECT_EQ(ini->get_int("[x]y", "EIT", 5), 0);
    EXPECT_EQ(ini->get_int("[x]y", "ECM", 5), 0);
    EXPECT_EQ(ini->get_int("[x", "EIT", 5), 5);
}

TEST_P(IniBehaviour, JapaneseSectionNamesAreKeptApart) {
    ASSERT_TRUE(ini->write_string("録画A", "EIT", "0"));
    ASSERT_TRUE(ini->write_string("録画B", "EIT", "1"));
    EXPECT_EQ(ini->get_int("録画A", "EIT", 5), 0);
    EXPECT_EQ(ini->get_int("録画B", "EIT", 5), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Stores, IniBehaviour,
    ::testing::ValuesIn(testing::ini_stores_under_test()),
    [](const ::testing::TestParamInfo<StoreFactory>& info) { return std::string(info.param.name); });

// Layout of the file our own writer keeps.
class IniFileLayout : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("QuillodineGUI.ini");
    IniFile ini{path};
};

TEST_F(IniFileLayout, NewKeyGoesToEndOfItsSectionAndNewSectionToEndOfFile) {
    write_file(path, "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
    ASSERT_TRUE(ini.write_string("a", "z", "3"));
    ASSERT_TRUE(ini.write_string("C", "w", "4"));
    EXPECT_EQ(read_file(path), "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n\r\n[C]\r\nw=4\r\n");
}

TEST_F(IniFileLayout, ReplacedKeyKeepsItsSpellingAndOtherLinesStay) {
    write_file(path, "; note\r\n[Parameter]\r\nEIT=1\r\nOutPath = C:\\tv \r\n");
    ASSERT_TRUE(ini.write_string("PARAMETER", "outpath", "D:\\x"));
    EXPECT_EQ(read_file(path), "; note\r\n[Parameter]\r\nEIT=1\r\nOutPath=D:\\x\r\n");
}

TEST_F(IniFileLayout, ReadsLfFilesTrimsBlanksAndDropsSurroundingQuotes) {
    write_file(path, "[S]\n  a =  spaced value  \nq=\"quoted\"\nh='x'\nodd=\"x\nfirst=1\n"
                     "first=2\n[S]\nfirst=3\n");
    EXPECT_EQ(ini.get_string("S", "a", "", 100), "spaced value");
    EXPECT_EQ(ini.get_string("S", "q", "", 100), "quoted");
    EXPECT_EQ(ini.get_string("S", "h", "", 100), "x");
    EXPECT_EQ(ini.get_string("S", "odd", "", 100), "\"x");
    EXPECT_EQ(ini.get_int("S", "first", 0), 1);  // the first key of the first section wins
}

TEST_F(IniFileLayout, UnwritableFileReportsFailure) {
    IniFile nowhere(dir.file("missing-dir/QuillodineGUI.ini"));
    EXPECT_FALSE(nowhere.write_string("S", "K", "1"));
    EXPECT_EQ(nowhere.get_int("S", "K", 8), 8);
}

}  // namespace
}  // namespace quill::gui
