#include "settings.h"

#include <string>

namespace quill::gui {
namespace {

constexpr SettingsKey sw(const char* key, int control, bool Settings::*field, bool def) {
    return {key, KeyKind::Switch, control, field, def, nullptr, nullptr, 0, nullptr, 0};
}
constexpr SettingsKey tx(const char* key, int control, std::string Settings::*field,
                         const char* def, int buffer) {
    return {key, KeyKind::Text, control, nullptr, false, field, def, buffer, nullptr, 0};
}
constexpr SettingsKey rm(const char* key, int control, int Settings::*field, int member) {
    return {key, KeyKind::RadioMember, control, nullptr, false, nullptr, nullptr, 0, field, member};
}

using S = Settings;
const std::array<SettingsKey, kSettingsKeyCount> kKeys = {{
    sw("EIT", 1002, &S::eit, true),
    sw("ECM", 1003, &S::ecm, true),
    sw("EMM", 1004, &S::emm, true),
    sw("HD", 1005, &S::hd, true),
    sw("SD", 1006, &S::sd, false),
    sw("SD1", 1007, &S::sd1, false),
    sw("SD2", 1008, &S::sd2, false),
    sw("SD3", 1009, &S::sd3, false),
    sw("1SEG", 1010, &S::one_seg, false),
    sw("CS", 1012, &S::cs, false),
    tx("CsServiceNo", 1013, &S::cs_service_no, "", 100),
    sw("PID", 1014, &S::pid, false),
    tx("PIDNo", 1015, &S::pid_no, "", 100),
    sw("NULL", 1011, &S::null_only, false),
    sw("OUT", 1043, &S::out, false),
    tx("OutPath", 1044, &S::out_path, "", 512),
    sw("BUFF", 1046, &S::buff, false),
    tx("BuffSize", 1047, &S::buff_size, "", 512),
    rm("SEP", 1025, &S::sep, 1),
    rm("SEP2", 1026, &S::sep, 2),
    rm("SEP3", 1027, &S::sep, 3),
    sw("OVL", 1020, &S::ovl, false),
    tx("OvlSet", 1021, &S::ovl_set, "5,7,0", 512),
    rm("SEPA", 1022, &S::sepa, 1),
    rm("SEPA2", 1023, &S::sepa, 2),
    rm("SEPA3", 1024, &S::sepa, 3),
    sw("SEPACUT", 1053, &S::sepa_cut, false),
    rm("GOP", 1028, &S::gop, 1),
    rm("GOPONLY", 1029, &S::gop, 2),
    rm("GOPCH", 1030, &S::gopch, 1),
    rm("GOPONLYCH", 1031, &S::gopch, 2),
    rm("GOPTIME", 1032, &S::goptime, 1),
    rm("GOPONLYTIME", 1033, &S::goptime, 2),
    sw("PTS", 1034, &S::pts, false),
    rm("B25", 1035, &S::b25, 1),
    rm("B252", 1036, &S::b25, 2),
    rm("B253", 1039, &S::b25, 3),
    sw("B25EMM", 1049, &S::b25_emm, false),
    rm("LOG", 1037, &S::log, 1),
    rm("LOGFILE", 1038, &S::log, 2),
    sw("FLEN", 1040, &S::flen, false),
    sw("UNI", 1041, &S::uni, false),
    rm("WAIT", 1050, &S::wait, 1),
    tx("WaitMsec", 1059, &S::wait_msec, "", 512),
    rm("WAIT2", 1051, &S::wait, 2),
    tx("Wait2Msec", 1060, &S::wait2_msec, "", 512),
}};

}  // namespace

const std::array<SettingsKey, kSettingsKeyCount>& settings_keys() { return kKeys; }

Settings load_settings(IniStore& ini, std::string_view section) {
    Settings s;
    // Every group starts as none; only its member keys can select a member.
    for (const SettingsKey& k : kKeys) {
        if (k.kind == KeyKind::RadioMember) s.*k.radio_field = kNone;
    }
    for (const SettingsKey& k : kKeys) {
        switch (k.kind) {
        case KeyKind::Switch:
            s.*k.switch_field = ini.get_int(section, k.key, k.switch_default ? 1 : 0) != 0;
            break;
        case KeyKind::Text:
            s.*k.text_field = ini.get_string(section, k.key, k.text_default, k.text_buffer);
            break;
        case KeyKind::RadioMember:
            if (ini.get_int(section, k.key, 0) != 0) s.*k.radio_field = k.member;
            break;
        }
    }
    return s;
}

bool save_settings(IniStore& ini, std::string_view section, const Settings& s) {
    bool ok = true;
    for (const SettingsKey& k : kKeys) {
        std::string value;
        switch (k.kind) {
        case KeyKind::Switch:
            value = s.*k.switch_field ? "1" : "0";
            break;
        case KeyKind::Text:
            value = (s.*k.text_field).substr(0, static_cast<size_t>(k.text_buffer - 1));
            break;
        case KeyKind::RadioMember:
            value = s.*k.radio_field == k.member ? "1" : "0";
            break;
        }
        ok = ini.write_string(section, k.key, value) && ok;
    }
    return ok;
}

void click_radio_member(int& group_state, int member) {
    group_state = group_state == member ? kNone : member;
}

Placement load_main_window_position(IniStore& ini, int desktop_cx, int desktop_cy, int window_cx,
                                    int window_cy) {
    Placement p;
    p.x = ini.get_int(kMainSection, "WindowX", desktop_cx / 2 - window_cx / 2);
    p.y = ini.get_int(kMainSection, "WindowY", desktop_cy / 2 - window_cy / 2);
    p.cx = window_cx;
    p.cy = window_cy;
    return p;
}

bool save_main_window_position(IniStore& ini, int left, int top) {
    bool ok = ini.write_string(kMainSection, "WindowX", std::to_string(left));
    return ini.write_string(kMainSection, "WindowY", std::to_string(top)) && ok;
}

Placement load_run_window_placement(IniStore& ini, int desktop_cx, int desktop_cy) {
    Placement p;
    p.x = ini.get_int(kRunWindowSection, "WindowX", desktop_cx / 2 - 300);
    p.y = ini.get_int(kRunWindowSection, "WindowY", desktop_cy / 2 - 150);
    p.cx = ini.get_int(kRunWindowSection, "WindowCX", 600);
    p.cy = ini.get_int(kRunWindowSection, "WindowCY", 300);
    return p;
}

bool save_run_window_placement(IniStore& ini, const Placement& p) {
    bool ok = ini.write_string(kRunWindowSection, "WindowX", std::to_string(p.x));
    ok = ini.write_string(kRunWindowSection, "WindowY", std::to_string(p.y)) && ok;
    ok = ini.write_string(kRunWindowSection, "WindowCX", std::to_string(p.cx)) && ok;
    return ini.write_string(kRunWindowSection, "WindowCY", std::to_string(p.cy)) && ok;
}

}  // namespace quill::gui
