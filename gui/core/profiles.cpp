#include "profiles.h"

#include <algorithm>
#include <optional>
#include <string>

#include "ini_file.h"
#include "texts.h"

namespace quill::gui {
namespace {

std::string cut_name(std::string_view name) {
    return std::string(name.substr(0, std::min(name.size(), kProfileNameMax)));
}

// Section names match without regard to case, so any spelling of "Parameter" would share the
// last-settings section (and be overwritten at exit): all of them are reserved.
bool is_reserved(std::string_view name) {
    return name == text::kLastSettings || equal_ignoring_case(name, kLastSettingsSection);
}

int find_entry(const ProfileList& list, std::string_view name) {
    for (size_t i = 0; i < list.entries.size(); ++i) {
        if (equal_ignoring_case(list.entries[i], name)) return static_cast<int>(i);
    }
    return -1;
}

void move_to_top(ProfileList& list, int index) {
    if (index <= 0) return;
    std::string name = list.entries[index];
    list.entries.erase(list.entries.begin() + index);
    list.entries.insert(list.entries.begin(), std::move(name));
}

// Saving and deleting both stop at an empty name and at the reserved ones (with a message).
std::optional<ProfileOutcome> refuse_name(const std::string& name, ProfileQuestions& questions) {
    if (name.empty()) return ProfileOutcome::Nothing;
    if (is_reserved(name)) {
        questions.ask(ProfileMessage::Reserved);
        return ProfileOutcome::Reserved;
    }
    return std::nullopt;
}

}  // namespace

const char* profile_message_text(ProfileMessage m) {
    switch (m) {
    case ProfileMessage::Reserved: return text::kProfileReserved;
    case ProfileMessage::Overwrite: return text::kProfileOverwrite;
    case ProfileMessage::Delete: return text::kProfileDelete;
    }
    return "";
}

std::string section_for_entry(std::string_view entry) {
    return entry == text::kLastSettings ? std::string(kLastSettingsSection) : std::string(entry);
}

ProfileList fill_profile_list(IniStore& ini) {
    ProfileList list;
    list.entries.emplace_back(text::kLastSettings);
    const int count = std::min(ini.get_int(kMainSection, "ParaList", 0), kMaxListedProfiles);
    for (int n = 1; n <= count; ++n) {
        std::string name = ini.get_string(kMainSection, "ParaName" + std::to_string(n), "", 512);
        if (!name.empty()) list.entries.push_back(std::move(name));
    }
    list.selected = 0;
    return list;
}

bool select_profile(ProfileList& list, int index, std::string& name_box, IniStore& ini,
                    Settings& panel) {
    if (index < 0 || static_cast<size_t>(index) >= list.entries.size()) return false;
    const std::string name = cut_name(list.entries[index]);
    move_to_top(list, index);
    list.selected = 0;
    if (name != text::kLastSettings) name_box = name;
    panel = load_settings(ini, section_for_entry(name));
    return true;
}

ProfileOutcome save_profile(ProfileList& list, std::string_view name_box, const Settings& panel,
                            IniStore& ini, ProfileQuestions& questions) {
    const std::string name = cut_name(name_box);
    if (const auto refused = refuse_name(name, questions)) return *refused;
    const int found = find_entry(list, name);
    std::string section = name;
    if (found >= 0) {
        if (!questions.ask(ProfileMessage::Overwrite)) return ProfileOutcome::Declined;
        section = list.entries[found];  // the listed spelling stays
        move_to_top(list, found);
    } else {
        list.entries.insert(list.entries.begin(), name);
    }
    list.selected = 0;
    save_settings(ini, section, panel);
    return ProfileOutcome::Done;
}

ProfileOutcome delete_profile(ProfileList& list, std::string_view name_box, Settings& panel,
                              IniStore& ini, ProfileQuestions& questions) {
    const std::string name = cut_name(name_box);
    if (const auto refused = refuse_name(name, questions)) return *refused;
    const int found = find_entry(list, name);
    if (found < 0) return ProfileOutcome::Nothing;
    if (!questions.ask(ProfileMessage::Delete)) return ProfileOutcome::Declined;
    list.entries.erase(list.entries.begin() + found);
    list.selected = 0;
    // "前回の設定" reads section "Parameter" here too, not a section of its own name that is
    // never written.
    if (!list.entries.empty()) panel = load_settings(ini, section_for_entry(list.entries.front()));
    return ProfileOutcome::Done;
}

bool write_profile_list(IniStore& ini, const ProfileList& list) {
    bool ok = true;
    int k = 0;
    for (const std::string& entry : list.entries) {
        if (entry == text::kLastSettings) continue;
        ++k;
        ok = ini.write_string(kMainSection, "ParaName" + std::to_string(k), entry) && ok;
    }
    return ini.write_string(kMainSection, "ParaList", std::to_string(k)) && ok;
}

bool save_at_exit(IniStore& ini, const Settings& panel, const ProfileList& list, int window_left,
                  int window_top) {
    bool ok = save_settings(ini, kLastSettingsSection, panel);
    ok = save_main_window_position(ini, window_left, window_top) && ok;
    return write_profile_list(ini, list) && ok;
}

}  // namespace quill::gui
