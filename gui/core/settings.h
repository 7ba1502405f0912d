// The settings record: the whole option panel of the main dialog, and how it is kept in the INI
// store (one section per profile, 46 keys in a fixed order).
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "ini_store.h"

namespace quill::gui {

// Section names of the INI file.
inline constexpr const char* kMainSection = "QuillodineGUI";
inline constexpr const char* kLastSettingsSection = "Parameter";
inline constexpr const char* kRunWindowSection = "CmdExeDlg";

// A radio group's state: kNone, or the 1-based index of the selected member.
inline constexpr int kNone = 0;

struct Settings {
    // Switches (check boxes).
    bool eit = true;          // 1002 keep programme guide
    bool ecm = true;          // 1003
    bool emm = true;          // 1004
    bool hd = true;           // 1005 keep HD
    bool sd = false;          // 1006 keep all SD
    bool sd1 = false;         // 1007
    bool sd2 = false;         // 1008
    bool sd3 = false;         // 1009
    bool one_seg = false;     // 1010
    bool cs = false;          // 1012 split CS services
    bool pid = false;         // 1014 keep given PIDs
    bool null_only = false;   // 1011
    bool out = false;         // 1043 output folder given
    bool buff = false;        // 1046 buffer size given
    bool ovl = false;         // 1020 overlap at splits
    bool sepa_cut = false;    // 1053 separate files at audio changes
    bool pts = false;         // 1034
    bool b25_emm = false;     // 1049
    bool flen = false;        // 1040
    bool uni = false;         // 1041

    // Texts (edit boxes).
    std::string cs_service_no;     // 1013
    std::string pid_no;            // 1015
    std::string out_path;          // 1044
    std::string buff_size;         // 1047
    std::string ovl_set = "5,7,0"; // 1021
    std::string wait_msec;         // 1059
    std::string wait2_msec;        // 1060

    // Radio groups.
    int sep = kNone;      // SEP, SEP2, SEP3
    int sepa = kNone;     // SEPA, SEPA2, SEPA3
    int gop = kNone;      // GOP, GOPONLY
    int gopch = kNone;    // GOPCH, GOPONLYCH
    int goptime = kNone;  // GOPTIME, GOPONLYTIME
    int b25 = kNone;      // B25, B252, B253
    int log = kNone;      // LOG, LOGFILE
    int wait = kNone;     // WAIT, WAIT2

    bool operator==(const Settings&) const = default;
};

enum class KeyKind { Switch, Text, RadioMember };

// One INI key of the record and the control it belongs to.
struct SettingsKey {
    const char* key;
    KeyKind kind;
    int control;                        // dialog control id
    bool Settings::*switch_field;       // Switch
    bool switch_default;
    std::string Settings::*text_field;  // Text
    const char* text_default;
    int text_buffer;                    // bytes, terminating zero included
    int Settings::*radio_field;         // RadioMember
    int member;                         // 1-based
};

inline constexpr int kSettingsKeyCount = 46;
// The keys in the order both operations visit them (and a new section lists them).
const std::array<SettingsKey, kSettingsKeyCount>& settings_keys();

// Reads the record from a section; missing keys give the defaults. In a radio group the last
// member with a non-zero value wins.
Settings load_settings(IniStore& ini, std::string_view section);
// Writes all 46 keys; texts are cut to their buffer. False when any write failed.
bool save_settings(IniStore& ini, std::string_view section, const Settings& s);

// Radio member click: a second click on the selected member clears the group.
void click_radio_member(int& group_state, int member);

// Window placement, in screen coordinates.
struct Placement {
    int x = 0;
    int y = 0;
    int cx = 0;
    int cy = 0;
};

// Main window position (its size is not stored); default centred on the desktop.
Placement load_main_window_position(IniStore& ini, int desktop_cx, int desktop_cy, int window_cx,
                                    int window_cy);
bool save_main_window_position(IniStore& ini, int left, int top);
// Run window rectangle; default 600 x 300 around the desktop centre.
Placement load_run_window_placement(IniStore& ini, int desktop_cx, int desktop_cy);
// `p` is the restored rectangle (left, top, right - left, bottom - top).
bool save_run_window_placement(IniStore& ini, const Placement& p);

}  // namespace quill::gui
