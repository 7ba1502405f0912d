// Named settings profiles: the drop-down list of the main dialog, kept in most-recently-used
// order, and the rules for selecting, saving and deleting a profile.
//
// Entry "前回の設定" is always in the list and stands for section "Parameter" (the panel as it was
// at the last exit); every other entry is a user profile whose section is its own name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ini_store.h"
#include "settings.h"

namespace quill::gui {

// Profile names are taken from their controls with a 256-byte buffer.
inline constexpr size_t kProfileNameMax = 255;
// Bound on ParaList when reading, so a damaged file cannot keep start-up busy for hours.
inline constexpr int kMaxListedProfiles = 4096;

struct ProfileList {
    std::vector<std::string> entries;  // position 0 is the most recently used
    int selected = -1;
};

enum class ProfileMessage {
    Reserved,   // warning, OK only
    Overwrite,  // question, Yes / No
    Delete,     // question, Yes / No
};
const char* profile_message_text(ProfileMessage m);

// The window layer shows the message box; tests answer in code. True means Yes (or OK).
struct ProfileQuestions {
    virtual bool ask(ProfileMessage m) = 0;

protected:
    ~ProfileQuestions() = default;
};

// The INI section an entry's settings live in.
std::string section_for_entry(std::string_view entry);

// Start-up: "前回の設定" first, then the names listed by ParaList / ParaName%d; position 0 selected.
ProfileList fill_profile_list(IniStore& ini);

// List selection changed to `index`: the entry moves to the top and its settings are returned.
// The profile-name box takes the name unless the entry is "前回の設定". Nothing for a bad index.
bool select_profile(ProfileList& list, int index, std::string& name_box, IniStore& ini,
                    Settings& panel);

enum class ProfileOutcome { Nothing, Reserved, Declined, Done };

// Button "保存": saves the panel under the name in the profile-name box.
ProfileOutcome save_profile(ProfileList& list, std::string_view name_box, const Settings& panel,
                            IniStore& ini, ProfileQuestions& questions);
// Button "削除": drops the named entry (its section stays in the file) and loads the settings of
// the entry that is then first into `panel`.
ProfileOutcome delete_profile(ProfileList& list, std::string_view name_box, Settings& panel,
                              IniStore& ini, ProfileQuestions& questions);

// Exit: ParaName1.. in list order ("前回の設定" left out), then ParaList. Keys numbered above the
// count from earlier runs stay and are never read.
bool write_profile_list(IniStore& ini, const ProfileList& list);

// Everything the store writes when the main window goes away, in order: the panel to "Parameter",
// the main window's position, the profile list.
bool save_at_exit(IniStore& ini, const Settings& panel, const ProfileList& list, int window_left,
                  int window_top);

}  // namespace quill::gui
