#include "profiles.h"

#include <gtest/gtest.h>

#include <vector>

#include "ini_file.h"
#include "test_support.h"
#include "texts.h"

namespace quill::gui {
namespace {

using testing::file_exists;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

struct ScriptedAnswers final : ProfileQuestions {
    bool answer = true;
    std::vector<ProfileMessage> asked;
    bool ask(ProfileMessage m) override {
        asked.push_back(m);
        return answer;
    }
};

using Names = std::vector<std::string>;

class Profiles : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.file("QuillodineGUI.ini");
    IniFile ini{path};
    ScriptedAnswers answers;

    // A list as start-up would fill it, with user profiles whose sections differ in `sd`.
    ProfileList list_with(const Names& users) {
        ProfileList list;
        list.entries.push_back(text::kLastSettings);
        for (const std::string& n : users) {
            Settings s;
            s.buff_size = n;
            save_settings(ini, n, s);
            list.entries.push_back(n);
        }
        list.selected = 0;
        return list;
    }
};

TEST_F(Profiles, StartUpFillReadsTheListedNamesAndSkipsEmptyOnes) {
    EXPECT_EQ(fill_profile_list(ini).entries, Names{"前回の設定"});

    write_file(path, "[QuillodineGUI]\r\nParaList=4\r\nParaName1=夜\r\nParaName2=\r\n"
                     "ParaName3=Anime\r\nParaName5=unlisted\r\n");
    ProfileList list = fill_profile_list(ini);
    EXPECT_EQ(list.entries, (Names{"前回の設定", "夜", "Anime"}));
    EXPECT_EQ(list.selected, 0);
}

TEST_F(Profiles, DamagedProfileCountIsBoundedOrIgnored) {
    write_file(path, "[QuillodineGUI]\r\nParaList=2000000000\r\nParaName1=A\r\n");
    EXPECT_EQ(fill_profile_list(ini).entries, (Names{"前回の設定", "A"}));
    write_file(path, "[QuillodineGUI]\r\nParaList=-3\r\nParaName1=A\r\n");
    EXPECT_EQ(fill_profile_list(ini).entries, Names{"前回の設定"});
}

TEST_F(Profiles, SelectingMovesTheEntryToTheTopAndLoadsItsSection) {
    ProfileList list = list_with({"A", "B"});
    std::string box = "typed";
    Settings panel;
    ASSERT_TRUE(select_profile(list, 2, box, ini, panel));
    EXPECT_EQ(list.entries, (Names{"B", "前回の設定", "A"}));
    EXPECT_EQ(list.selected, 0);
    EXPECT_EQ(box, "B");
    EXPECT_EQ(panel.buff_size, "B");

    Settings last;
    last.pts = true;
    save_settings(ini, "Parameter", last);
    ASSERT_TRUE(select_profile(list, 1, box, ini, panel));
    EXPECT_EQ(box, "B");  // the name box keeps its text for "前回の設定"
    EXPECT_TRUE(panel.pts);
    EXPECT_FALSE(select_profile(list, 3, box, ini, panel));
}

TEST_F(Profiles, ReservedNamesWarnAndWriteNothing) {
    for (const char* name : {"Parameter", "前回の設定", "PARAMETER", "parameter"}) {
        ProfileList list = fill_profile_list(ini);
        answers.asked.clear();
        Settings panel;
        EXPECT_EQ(save_profile(list, name, panel, ini, answers), ProfileOutcome::Reserved) << name;
        EXPECT_EQ(delete_profile(list, name, panel, ini, answers), ProfileOutcome::Reserved) << name;
        EXPECT_EQ(answers.asked, (std::vector{ProfileMessage::Reserved, ProfileMessage::Reserved}));
        EXPECT_EQ(list.entries, Names{"前回の設定"});
        EXPECT_FALSE(file_exists(path));
    }
}

TEST_F(Profiles, SavingAListedNameAsksAndNoLeavesListAndFileAlone) {
    ProfileList list = list_with({"A", "B"});
    const std::string before = read_file(path);
    Settings panel;
    panel.buff_size = "new";
    answers.answer = false;
    EXPECT_EQ(save_profile(list, "B", panel, ini, answers), ProfileOutcome::Declined);
    EXPECT_EQ(answers.asked, std::vector{ProfileMessage::Overwrite});
    EXPECT_EQ(list.entries, (Names{"前回の設定", "A", "B"}));
    EXPECT_EQ(read_file(path), before);
}

TEST_F(Profiles, SavingAListedNameWithYesMovesItUpAndRewritesItsSection) {
    ProfileList list = list_with({"Anime", "B"});
    Settings panel;
    panel.buff_size = "new";
    // Names match without regard to case; the listed spelling is kept.
    EXPECT_EQ(save_profile(list, "ANIME", panel, ini, answers), ProfileOutcome::Done);
    EXPECT_EQ(answers.asked, std::vector{ProfileMessage::Overwrite});
    EXPECT_EQ(list.entries, (Names{"Anime", "前回の設定", "B"}));
    EXPECT_EQ(load_settings(ini, "Anime").buff_size, "new");
}

TEST_F(Profiles, APrefixOfAListedNameIsANewProfile) {
    ProfileList list = list_with({"Anime"});
    Settings panel;
    panel.gop = 2;
    EXPECT_EQ(save_profile(list, "Ani", panel, ini, answers), ProfileOutcome::Done);
    EXPECT_TRUE(answers.asked.empty());
    EXPECT_EQ(list.entries, (Names{"Ani", "前回の設定", "Anime"}));
    EXPECT_EQ(load_settings(ini, "Ani").gop, 2);
    EXPECT_EQ(load_settings(ini, "Anime").gop, kNone);
}

TEST_F(Profiles, EmptyOrUnknownNamesDoNothing) {
    ProfileList list = list_with({"A"});
    Settings panel;
    EXPECT_EQ(save_profile(list, "", panel, ini, answers), ProfileOutcome::Nothing);
    EXPECT_EQ(delete_profile(list, "", panel, ini, answers), ProfileOutcome::Nothing);
    EXPECT_EQ(delete_profile(list, "Z", panel, ini, answers), ProfileOutcome::Nothing);
    EXPECT_TRUE(answers.asked.empty());
    EXPECT_EQ(list.entries, (Names{"前回の設定", "A"}));
}

TEST_F(Profiles, DeleteAsksThenLoadsTheNewFirstEntryAndKeepsTheSection) {
    ProfileList list = list_with({"A", "B"});
    std::string box;
    Settings panel;
    select_profile(list, 2, box, ini, panel);  // B, 前回の設定, A

    answers.answer = false;
    EXPECT_EQ(delete_profile(list, "a", panel, ini, answers), ProfileOutcome::Declined);
    EXPECT_EQ(list.entries.size(), 3u);

    answers.answer = true;
    EXPECT_EQ(delete_profile(list, "a", panel, ini, answers), ProfileOutcome::Done);
    EXPECT_EQ(list.entries, (Names{"B", "前回の設定"}));
    EXPECT_EQ(panel.buff_size, "B");
    EXPECT_EQ(load_settings(ini, "A").buff_size, "A");  // its section stays in the file

    // When "前回の設定" becomes first, the last settings are loaded, not defaults.
    Settings last;
    last.wait = 2;
    save_settings(ini, "Parameter", last);
    EXPECT_EQ(delete_profile(list, "B", panel, ini, answers), ProfileOutcome::Done);
    EXPECT_EQ(list.entries, Names{"前回の設定"});
    EXPECT_EQ(panel.wait, 2);
}

TEST_F(Profiles, ExitAfterADeleteWritesTheShorterListAndLeavesTheStaleKey) {
    ProfileList list = list_with({"A", "B", "C"});
    Settings panel;
    panel.sep = 1;
    ASSERT_TRUE(save_at_exit(ini, panel, list, 10, 20));
    ASSERT_EQ(fill_profile_list(ini).entries, list.entries);

    ASSERT_EQ(delete_profile(list, "A", panel, ini, answers), ProfileOutcome::Done);
    ASSERT_TRUE(save_at_exit(ini, panel, list, 10, 20));
    EXPECT_EQ(ini.get_int("QuillodineGUI", "ParaList", -1), 2);
    EXPECT_EQ(ini.get_string("QuillodineGUI", "ParaName1", "", 512), "B");
    EXPECT_EQ(ini.get_string("QuillodineGUI", "ParaName2", "", 512), "C");
    EXPECT_EQ(ini.get_string("QuillodineGUI", "ParaName3", "", 512), "C");
    EXPECT_EQ(fill_profile_list(ini).entries, (Names{"前回の設定", "B", "C"}));
    EXPECT_EQ(load_settings(ini, "Parameter").sep, 1);
    EXPECT_EQ(ini.get_int("QuillodineGUI", "WindowX", 0), 10);
}

TEST_F(Profiles, LongNamesAreCutTo255Bytes) {
    ProfileList list = fill_profile_list(ini);
    Settings panel;
    const std::string long_name(300, 'n');
    EXPECT_EQ(save_profile(list, long_name, panel, ini, answers), ProfileOutcome::Done);
    EXPECT_EQ(list.entries.front(), std::string(255, 'n'));
}

}  // namespace
}  // namespace quill::gui
