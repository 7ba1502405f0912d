#include "settings.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "ini_file.h"
#include "test_support.h"

namespace quill::gui {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

class SettingsStore : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("QuillodineGUI.ini");
    IniFile ini{path};
};

TEST_F(SettingsStore, NoFileGivesThePanelDefaults) {
    Settings s = load_settings(ini, "Parameter");
    EXPECT_TRUE(s.eit && s.ecm && s.emm && s.hd);
    EXPECT_FALSE(s.sd || s.sd1 || s.sd2 || s.sd3 || s.one_seg || s.cs || s.pid || s.null_only ||
                 s.out || s.buff || s.ovl || s.sepa_cut || s.pts || s.b25_emm || s.flen || s.uni);
    EXPECT_EQ(s.ovl_set, "5,7,0");
    EXPECT_EQ(s.cs_service_no + s.pid_no + s.out_path + s.buff_size + s.wait_msec + s.wait2_msec, "");
    for (int g : {s.sep, s.sepa, s.gop, s.gopch, s.goptime, s.b25, s.log, s.wait}) EXPECT_EQ(g, kNone);
}

TEST_F(SettingsStore, NewSectionListsAll46KeysInKeyOrder) {
    Settings s;
    s.sep = 2;
    s.out_path = "D:\\rec";
    ASSERT_TRUE(save_settings(ini, "Parameter", s));
    const char* want =
        "[Parameter]\r\nEIT=1\r\nECM=1\r\nEMM=1\r\nHD=1\r\nSD=0\r\nSD1=0\r\nSD2=0\r\nSD3=0\r\n"
        "1SEG=0\r\nCS=0\r\nCsServiceNo=\r\nPID=0\r\nPIDNo=\r\nNULL=0\r\nOUT=0\r\n"
        "OutPath=D:\\rec\r\nBUFF=0\r\nBuffSize=\r\nSEP=0\r\nSEP2=1\r\nSEP3=0\r\nOVL=0\r\n"
        "OvlSet=5,7,0\r\nSEPA=0\r\nSEPA2=0\r\nSEPA3=0\r\nSEPACUT=0\r\nGOP=0\r\nGOPONLY=0\r\n"
        "GOPCH=0\r\nGOPONLYCH=0\r\nGOPTIME=0\r\nGOPONLYTIME=0\r\nPTS=0\r\nB25=0\r\nB252=0\r\n"
        "B253=0\r\nB25EMM=0\r\nLOG=0\r\nLOGFILE=0\r\nFLEN=0\r\nUNI=0\r\nWAIT=0\r\n"
        "WaitMsec=\r\nWAIT2=0\r\nWait2Msec=\r\n";
    EXPECT_EQ(read_file(path), want);
}

TEST_F(SettingsStore, EveryFieldSurvivesSaveAndLoad) {
    Settings s;
    s.eit = s.ecm = s.emm = s.hd = false;
    s.sd = s.sd1 = s.sd2 = s.sd3 = s.one_seg = s.cs = s.pid = s.null_only = true;
    s.out = s.buff = s.ovl = s.sepa_cut = s.pts = s.b25_emm = s.flen = s.uni = true;
    s.cs_service_no = "211,212";
    s.pid_no = "1FC8";
    s.out_path = "D:\\録画\\";
    s.buff_size = "16";
    s.ovl_set = "";
    s.wait_msec = "100";
    s.wait2_msec = "50";
    s.sep = 3, s.sepa = 2, s.gop = 1, s.gopch = 2, s.goptime = 1, s.b25 = 3, s.log = 2, s.wait = 2;
    ASSERT_TRUE(save_settings(ini, "録画用", s));
    EXPECT_EQ(load_settings(ini, "録画用"), s);
    EXPECT_EQ(load_settings(ini, "Parameter"), Settings{});
}

TEST_F(SettingsStore, RadioGroupReadLastNonZeroMemberWins) {
    struct Case {
        const char* lines;
        int sep;
    } cases[] = {
        {"SEP=1\r\nSEP3=1\r\n", 3},
        {"SEP=1\r\nSEP2=0\r\n", 1},
        {"SEP2=5\r\n", 2},
        {"SEP=-1\r\nSEP2=1\r\n", 2},
        {"SEP=0\r\nSEP2=0\r\nSEP3=0\r\n", kNone},
        {"SEP=x\r\n", kNone},
        {"", kNone},
    };
    for (const Case& c : cases) {
        write_file(path, std::string("[P]\r\n") + c.lines);
        EXPECT_EQ(load_settings(ini, "P").sep, c.sep) << c.lines;
    }
}

TEST_F(SettingsStore, SwitchesReadAnyNonZeroAsOn) {
    write_file(path, "[P]\r\nEIT=0\r\nSD=2\r\nPTS=-1\r\nHD=abc\r\n");
    Settings s = load_settings(ini, "P");
    EXPECT_FALSE(s.eit);
    EXPECT_TRUE(s.sd);
    EXPECT_TRUE(s.pts);
    EXPECT_FALSE(s.hd);  // present but not a number: 0
}

TEST_F(SettingsStore, TextsAreCutToTheirBufferOnSaveAndOnLoad) {
    Settings s;
    s.cs_service_no = std::string(150, '1');
    s.out_path = std::string(600, 'p');
    ASSERT_TRUE(save_settings(ini, "P", s));
    Settings back = load_settings(ini, "P");
    EXPECT_EQ(back.cs_service_no, std::string(99, '1'));
    EXPECT_EQ(back.out_path, std::string(511, 'p'));

    write_file(path, "[P]\r\nPIDNo=" + std::string(120, 'A') + "\r\n");
    EXPECT_EQ(load_settings(ini, "P").pid_no, std::string(99, 'A'));
}

TEST(RadioClick, SecondClickOnSelectedMemberClearsTheGroup) {
    struct Case {
        int before, member, after;
    } cases[] = {{kNone, 2, 2}, {2, 2, kNone}, {2, 3, 3}, {1, 1, kNone}};
    for (const Case& c : cases) {
        int state = c.before;
        click_radio_member(state, c.member);
        EXPECT_EQ(state, c.after) << c.before << " click " << c.member;
    }
}

TEST_F(SettingsStore, WindowPlacementDefaultsHalveEachSizeSeparately) {
    Placement main = load_main_window_position(ini, 1365, 767, 817, 531);
    EXPECT_EQ(main.x, 682 - 408);
    EXPECT_EQ(main.y, 383 - 265);
    Placement run = load_run_window_placement(ini, 1365, 767);
    EXPECT_EQ(run.x, 682 - 300);
    EXPECT_EQ(run.y, 383 - 150);
    EXPECT_EQ(run.cx, 600);
    EXPECT_EQ(run.cy, 300);
}

TEST_F(SettingsStore, WindowPlacementRoundTripsIncludingNegativeScreenPositions) {
    ASSERT_TRUE(save_main_window_position(ini, -1500, 20));
    ASSERT_TRUE(save_run_window_placement(ini, Placement{-900, -10, 640, 480}));
    Placement main = load_main_window_position(ini, 1920, 1080, 800, 500);
    EXPECT_EQ(main.x, -1500);
    EXPECT_EQ(main.y, 20);
    Placement run = load_run_window_placement(ini, 1920, 1080);
    EXPECT_EQ(run.x, -900);
    EXPECT_EQ(run.y, -10);
    EXPECT_EQ(run.cx, 640);
    EXPECT_EQ(run.cy, 480);
}

}  // namespace
}  // namespace quill::gui
