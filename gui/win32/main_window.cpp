// The program entry and the main dialog: option panel, profiles, input files, About box.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

#include "argument_line.h"
#include "front_end.h"
#include "resource.h"
#include "texts.h"

namespace quill::gui {

namespace {

constexpr int kInputFieldBuffer = 32768;
constexpr int kPreviewBuffer = 10240;
constexpr int kOutputFolderBuffer = 600;
constexpr int kProfileNameBuffer = 256;
constexpr int kPathBuffer = 512;
constexpr int kFileDialogBuffer = 10400;
constexpr int kLastChosenMax = 519;

FrontEnd& front_end_of(HWND dialog) {
    return *reinterpret_cast<FrontEnd*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

const SettingsKey* key_of_control(int id) {
    for (const SettingsKey& k : settings_keys())
        if (k.control == id) return &k;
    return nullptr;
}

// The panel as the controls show it; radio groups are kept in the record, not in the buttons.
Settings read_panel(FrontEnd& fe) {
    Settings s = fe.panel;
    for (const SettingsKey& k : settings_keys()) {
        if (k.kind == KeyKind::Switch) s.*k.switch_field = is_checked(fe.main, k.control);
        else if (k.kind == KeyKind::Text) s.*k.text_field = dialog_text(fe.main, k.control, kOptionTextMax + 1);
    }
    return s;
}

void show_panel(FrontEnd& fe, const Settings& s) {
    fe.loading = true;
    fe.panel = s;
    for (const SettingsKey& k : settings_keys()) {
        if (k.kind == KeyKind::Switch) set_checked(fe.main, k.control, s.*k.switch_field);
        else if (k.kind == KeyKind::Text) SetDlgItemTextA(fe.main, k.control, (s.*k.text_field).c_str());
        else set_checked(fe.main, k.control, s.*k.radio_field == k.member);
    }
    fe.loading = false;
}

void show_profile_list(FrontEnd& fe) {
    HWND list = GetDlgItem(fe.main, IDC_PROFILES);
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (const std::string& entry : fe.profiles.entries)
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(fe.profiles.selected), 0);
}

struct MessageBoxQuestions final : ProfileQuestions {
    HWND owner;
    explicit MessageBoxQuestions(HWND o) : owner(o) {}
    bool ask(ProfileMessage m) override {
        const UINT style = m == ProfileMessage::Reserved ? MB_ICONWARNING | MB_OK : MB_ICONQUESTION | MB_YESNO;
        const int answer = MessageBoxA(owner, profile_message_text(m), text::kProfileBoxCaption, style);
        return answer == IDOK || answer == IDYES;
    }
};

// Tooltips of the panel, in the order they are registered.
struct Tip {
    int control;
    const char* text;
};
constexpr Tip kTips[] = {
    {IDC_EIT, "-EIT:EPG番組表データや放送中番組データを保存します"},
    {IDC_ECM, "-ECM:Multi2復号(B25解除)に必要なデータを保存します"},
    {IDC_EMM, "-EMM:有料放送の加入情報を保存します"},
    {IDC_HD, "-HD無し:HD形式の映像データがあれば保存します"},
    {IDC_SD, "-SD無し:SD形式の映像データがあればすべて保存します\r\nNHK教育やTOKYOMX、BS1/2、WOWOW1/2/3などマルチチャンネル形式を分離します"},
    {IDC_SD1, "-SD1無し:SD形式の映像データで1つ目のサービスを保存します\r\nNHK教育1、MX1、BS1、WOWOW1など"},
    {IDC_SD2, "-SD2無し:SD形式の映像データで2つ目のサービスを保存します\r\nNHK教育3、MX2、BS2、WOWOW2など"},
    {IDC_SD3, "-SD3無し:SD形式の映像データで3つ目のサービスを保存します\r\nWOWOW3など"},
    {IDC_1SEG, "-1SEG無し:ワンセグ形式の映像データがあれば保存します"},
    {IDC_CS, "-CS:CS放送で1TSに複数番組がある場合にそれらを分割して保存します"},
    {IDC_PID, "-PID:指定PIDのデータを保存します(16進指定)"},
    {IDC_NULL, "-NULL"},
    {IDC_OUT, "-OUT"},
    {IDC_BUFF, "-BUFF:ファイルへ出力する際に指定された量をまとめて出力します"},
    {IDC_SEP, "-SEP"},
    {IDC_SEP2, "-SEP2"},
    {IDC_SEP3, "-SEP3"},
    {IDC_OVL, "-OVL"},
    {IDC_SEPA, "-SEPA:音声切替地点の1GOP分の映像は削除されます(音ズレしにくい)"},
    {IDC_SEPA2, "-SEPA2:音声切替地点の1GOPの映像を残します(音ズレしやすい)"},
    {IDC_SEPA3, "-SEPA3:音声切替地点の1GOPの映像を残し、音声を映像のGOPに合わせて分離します(音声のch分離が完全では無くなります)"},
    {IDC_SEPACUT, "-SEPAxC:音声切替地点でファイルを個々に作成します"},
    {IDC_GOP, "-GOP:MurocCut用のGOPリストを作成します"},
    {IDC_GOPONLY, "-GOPONLY"},
    {IDC_GOPCH, "-GOPCH"},
    {IDC_GOPONLYCH, "-GOPONLYCH"},
    {IDC_GOPTIME, "-GOPTIME"},
    {IDC_GOPONLYTIME, "-GOPONLYTIME"},
    {IDC_PTS, "-PTS:PTSリセット問題でTMPGEncで読み込めない場合にPTSを01:00:00から振り直す時に使用します(GOMプレイヤーで再生出来なくなるので注意)"},
    {IDC_B25, "-B25:ファイルの先頭の解除もれを無理やりにでも解除する"},
    {IDC_B252, "-B252:解除出来ないものはそのまま保存する"},
    {IDC_B253, "-B253:解除出来ないものは保存しない"},
    {IDC_B25EMM, "-B25EMM:EMM処理を行なう"},
    {IDC_LOG, "-LOG"},
    {IDC_LOGFILE, "-LOGFILE"},
    {IDC_FLEN, "-FLEN"},
    {IDC_UNI, "-UNI"},
    {IDC_WAIT_FIXED, "-WAIT"},
    {IDC_WAIT_ADAPTIVE, "-WAIT2"},
};

void create_tooltips(FrontEnd& fe) {
    fe.tooltip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, fe.main, nullptr, fe.instance, nullptr);
    if (!fe.tooltip) return;
    SendMessageA(fe.tooltip, TTM_SETMAXTIPWIDTH, 0, 300);
    UINT number = 0;
    for (const Tip& tip : kTips) {
        TOOLINFOA ti{};
        ti.cbSize = sizeof ti;
        ti.uFlags = TTF_SUBCLASS;
        ti.hwnd = GetDlgItem(fe.main, tip.control);
        ti.uId = number++;
        ti.hinst = fe.instance;
        ti.lpszText = const_cast<char*>(tip.text);
        GetClientRect(ti.hwnd, &ti.rect);
        SendMessageA(fe.tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    }
}

// Folder browser of button 1045: starts at the box's folder, shows the free space of the folder
// under the cursor.
int CALLBACK browse_callback(HWND browser, UINT message, LPARAM param, LPARAM data) {
    if (message == BFFM_INITIALIZED) {
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, data);
    } else if (message == BFFM_SELCHANGED) {
        char path[MAX_PATH] = {};
        if (SHGetPathFromIDListA(reinterpret_cast<PCIDLIST_ABSOLUTE>(param), path)) {
            const std::string status = free_space_status(path, free_bytes);
            SendMessageA(browser, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(status.c_str()));
        }
    }
    return 0;
}

void browse_output_folder(FrontEnd& fe) {
    const std::string start = dialog_text(fe.main, IDC_OUT_TEXT, kOutputFolderBuffer);
    BROWSEINFOA bi{};
    bi.hwndOwner = fe.main;
    bi.lpszTitle = "出力フォルダを指定して下さい。";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    bi.lpfn = browse_callback;
    bi.lParam = reinterpret_cast<LPARAM>(start.c_str());
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&bi);
    if (chosen) {
        char path[MAX_PATH] = {};
        // A shell path is shorter than the box's 600 bytes.
        if (SHGetPathFromIDListA(chosen, path)) SetDlgItemTextA(fe.main, IDC_OUT_TEXT, path);
        IMalloc* shell_malloc = nullptr;
        if (SUCCEEDED(SHGetMalloc(&shell_malloc))) {
            shell_malloc->Free(chosen);
            shell_malloc->Release();
        }
    }
    rebuild_argument_line(fe);
}

void open_input_files(FrontEnd& fe) {
    std::vector<char> buffer(kFileDialogBuffer, '\0');
    std::strncpy(buffer.data(), fe.last_chosen.c_str(), buffer.size() - 1);
    static const char kFilter[] = "tsファイル(*.ts)\0*.ts\0すべてのファイル(*.*)\0*.*\0";
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = fe.main;
    ofn.lpstrFilter = kFilter;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    ofn.lpstrTitle = "tsファイルを開く";
    ofn.lpstrDefExt = "ts";
    ofn.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (GetOpenFileNameA(&ofn)) {
        const std::vector<std::string> paths = paths_from_open_dialog(std::string_view(buffer.data(), buffer.size()));
        if (paths.size() == 1) {
            fe.last_chosen = paths[0].substr(0, kLastChosenMax);
            set_input_field(fe, paths[0]);
        } else if (!paths.empty()) {
            fe.last_chosen = paths[0].substr(0, kLastChosenMax);
            JoinedInput joined = join_paths(paths);
            set_input_field(fe, input_field_text(joined, fe.paths.list, fe.file_count));
        }
    }
    rebuild_argument_line(fe);
}

void take_command_line(FrontEnd& fe) {
    if (!fe.command_line) return;
    const JoinedInput joined = join_command_line_words(split_command_line(*fe.command_line));
    fe.command_line.reset();
    if (joined.paths.empty()) return;
    set_input_field(fe, input_field_text(joined, fe.paths.list, fe.file_count));
}

void place_main_window(FrontEnd& fe) {
    RECT desktop, window;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(fe.main, &window);
    const Placement p = load_main_window_position(fe.ini, desktop.right - desktop.left, desktop.bottom - desktop.top,
                                                  window.right - window.left, window.bottom - window.top);
    SetWindowPos(fe.main, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void start_up(FrontEnd& fe, HWND dialog) {
    fe.main = dialog;
    place_main_window(fe);
    HMENU system_menu = GetSystemMenu(dialog, FALSE);
    InsertMenuA(system_menu, SC_CLOSE, MF_BYCOMMAND | MF_STRING, IDM_ABOUT, "バージョン情報(&A)...");
    create_tooltips(fe);
    SendDlgItemMessageA(dialog, IDC_PREVIEW, EM_LIMITTEXT, 0, 0);
    SendDlgItemMessageA(dialog, IDC_INPUT, EM_LIMITTEXT, kJoinedInputMax, 0);
    fe.profiles = fill_profile_list(fe.ini);
    show_profile_list(fe);
    fe.preview_brush = CreateSolidBrush(RGB(0, 0, 0));
    show_panel(fe, load_settings(fe.ini, kLastSettingsSection));
    SendMessageA(dialog, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadIconA(fe.instance, MAKEINTRESOURCEA(IDI_APP))));
    SendMessageA(dialog, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(LoadImageA(fe.instance, MAKEINTRESOURCEA(IDI_APP_SMALL), IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
    DragAcceptFiles(dialog, TRUE);
    rebuild_argument_line(fe);
}

void shut_down(FrontEnd& fe) {
    // The window's own rectangle, or the restored one when it is minimized: a minimized window
    // sits far off the screen and must not be placed there at the next start.
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    RECT r{};
    if (IsIconic(fe.main) && GetWindowPlacement(fe.main, &wp)) r = wp.rcNormalPosition;
    else GetWindowRect(fe.main, &r);
    const Settings panel = read_panel(fe);
    if (fe.tooltip) DestroyWindow(fe.tooltip);
    fe.tooltip = nullptr;
    save_at_exit(fe.ini, panel, fe.profiles, r.left, r.top);
    if (fe.preview_brush) DeleteObject(fe.preview_brush);
    fe.preview_brush = nullptr;
    PostQuitMessage(0);
}

INT_PTR CALLBACK about_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wparam));
        return TRUE;
    }
    return FALSE;
}

void show_about(FrontEnd& fe) { DialogBoxParamA(fe.instance, MAKEINTRESOURCEA(IDD_ABOUT), fe.main, about_proc, 0); }

void on_profile_selected(FrontEnd& fe) {
    const int index = static_cast<int>(SendDlgItemMessageA(fe.main, IDC_PROFILES, CB_GETCURSEL, 0, 0));
    std::string name = dialog_text(fe.main, IDC_PROFILE_NAME, kProfileNameBuffer);
    Settings panel = read_panel(fe);
    if (select_profile(fe.profiles, index, name, fe.ini, panel)) {
        show_profile_list(fe);
        SetDlgItemTextA(fe.main, IDC_PROFILE_NAME, name.c_str());
        show_panel(fe, panel);
        rebuild_argument_line(fe);
    }
}

void on_profile_save(FrontEnd& fe) {
    MessageBoxQuestions questions(fe.main);
    const std::string name = dialog_text(fe.main, IDC_PROFILE_NAME, kProfileNameBuffer);
    if (save_profile(fe.profiles, name, read_panel(fe), fe.ini, questions) == ProfileOutcome::Done)
        show_profile_list(fe);
}

void on_profile_delete(FrontEnd& fe) {
    MessageBoxQuestions questions(fe.main);
    const std::string name = dialog_text(fe.main, IDC_PROFILE_NAME, kProfileNameBuffer);
    Settings panel = read_panel(fe);
    if (delete_profile(fe.profiles, name, panel, fe.ini, questions) == ProfileOutcome::Done) {
        show_profile_list(fe);
        show_panel(fe, panel);
        rebuild_argument_line(fe);
    }
}

void on_command(FrontEnd& fe, int id, int code) {
    switch (id) {
    case IDOK: {
        ShowWindow(fe.main, SW_MINIMIZE);
        const std::string arguments = dialog_text(fe.main, IDC_PREVIEW, kPreviewBuffer);
        run_console(fe, arguments);
        ShowWindow(fe.main, SW_RESTORE);
        return;
    }
    case IDCANCEL: DestroyWindow(fe.main); return;
    case IDC_BROWSE_INPUT: open_input_files(fe); return;
    case IDC_HELP_RUN: run_console(fe, ""); return;
    case IDM_ABOUT: show_about(fe); return;
    case IDM_COMMAND_LINE: take_command_line(fe); return;
    case IDC_BROWSE_OUT: browse_output_folder(fe); return;
    case IDC_PROFILES:
        if (code == CBN_SELCHANGE) on_profile_selected(fe);
        return;
    case IDC_PROFILE_SAVE: on_profile_save(fe); return;
    case IDC_PROFILE_DELETE: on_profile_delete(fe); return;
    case IDC_INPUT:
    case IDC_CS_TEXT:
    case IDC_PID_TEXT:
    case IDC_OVL_TEXT:
    case IDC_OUT_TEXT:
    case IDC_BUFF_TEXT:
    case IDC_WAIT_TEXT:
    case IDC_WAIT2_TEXT:
        if (code == EN_CHANGE && !fe.loading) rebuild_argument_line(fe);
        return;
    default: break;
    }
    const SettingsKey* key = key_of_control(id);
    if (!key || code != BN_CLICKED || fe.loading) return;
    if (key->kind == KeyKind::RadioMember) {
        // A second click on the selected member clears its group.
        int& state = fe.panel.*key->radio_field;
        click_radio_member(state, key->member);
        for (const SettingsKey& k : settings_keys())
            if (k.kind == KeyKind::RadioMember && k.radio_field == key->radio_field)
                set_checked(fe.main, k.control, state == k.member);
    }
    rebuild_argument_line(fe);
}

INT_PTR CALLBACK main_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lparam);
        start_up(*reinterpret_cast<FrontEnd*>(lparam), dialog);
        return TRUE;
    }
    if (!GetWindowLongPtrA(dialog, DWLP_USER)) return FALSE;
    FrontEnd& fe = front_end_of(dialog);
    switch (message) {
    case WM_COMMAND: on_command(fe, LOWORD(wparam), HIWORD(wparam)); return TRUE;
    case WM_SYSCOMMAND:
        if (wparam == IDM_ABOUT) {
            show_about(fe);
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 0);
            return TRUE;
        }
        return FALSE;
    case WM_DROPFILES: {
        HDROP drop = reinterpret_cast<HDROP>(wparam);
        const std::vector<std::string> paths = dropped_paths(drop);
        DragFinish(drop);
        if (!paths.empty()) {
            JoinedInput joined = join_paths(paths);
            set_input_field(fe, input_field_text(joined, fe.paths.list, fe.file_count));
        } else {
            set_input_field(fe, "");
        }
        return TRUE;
    }
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lparam) == GetDlgItem(dialog, IDC_PREVIEW) && fe.preview_brush) {
            HDC dc = reinterpret_cast<HDC>(wparam);
            SetTextColor(dc, RGB(255, 255, 255));
            SetBkColor(dc, RGB(0, 0, 0));
            return reinterpret_cast<INT_PTR>(fe.preview_brush);
        }
        return FALSE;
    case WM_DESTROY: shut_down(fe); return TRUE;
    default: return FALSE;
    }
}

}  // namespace

std::string dialog_text(HWND dialog, int id, int buffer_size) {
    std::vector<char> buffer(static_cast<std::size_t>(buffer_size), '\0');
    const UINT n = GetDlgItemTextA(dialog, id, buffer.data(), buffer_size);
    return std::string(buffer.data(), n);
}

bool is_checked(HWND dialog, int id) { return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void set_checked(HWND dialog, int id, bool on) {
    SendDlgItemMessageA(dialog, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

std::optional<std::uint64_t> free_bytes(std::string_view drive) {
    ULARGE_INTEGER available{};
    const std::string root = drive.empty() ? std::string() : std::string(drive) + "\\";
    if (!GetDiskFreeSpaceExA(root.empty() ? nullptr : root.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
}

void rebuild_argument_line(FrontEnd& fe) {
    const Settings panel = read_panel(fe);
    const std::string input = dialog_text(fe.main, IDC_INPUT, kInputFieldBuffer);
    const ArgumentLine a = build_argument_line(panel, input, fe.file_count, free_bytes);
    const DependentControls& e = a.enabled;
    const struct {
        int id;
        bool on;
    } enabling[] = {
        {IDC_SD1, e.sd_members},   {IDC_SD2, e.sd_members},      {IDC_SD3, e.sd_members},
        {IDC_CS_TEXT, e.cs_text},  {IDC_PID_TEXT, e.pid_text},   {IDC_OUT_TEXT, e.out_path},
        {IDC_BUFF_TEXT, e.buff_size}, {IDC_OVL, e.ovl},          {IDC_OVL_TEXT, e.ovl_text},
        {IDC_SEPACUT, e.sepa_cut}, {IDC_B25EMM, e.b25_emm},      {IDC_UNI, e.uni},
        {IDC_WAIT_TEXT, e.wait_text}, {IDC_WAIT2_TEXT, e.wait2_text},
    };
    for (const auto& c : enabling) EnableWindow(GetDlgItem(fe.main, c.id), c.on ? TRUE : FALSE);
    fe.file_count = a.file_count;
    EnableWindow(GetDlgItem(fe.main, IDOK), a.convert_enabled ? TRUE : FALSE);
    SetDlgItemTextA(fe.main, IDC_FREE_SPACE, a.free_space_label.c_str());
    SetDlgItemTextA(fe.main, IDC_PREVIEW, a.line.c_str());
}

void set_input_field(FrontEnd& fe, const std::string& text) { SetDlgItemTextA(fe.main, IDC_INPUT, text.c_str()); }

std::vector<std::string> dropped_paths(HDROP drop) {
    std::vector<std::string> paths;
    const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        char name[520] = {};
        if (DragQueryFileA(drop, i, name, sizeof name) > 0) paths.emplace_back(name);
    }
    return paths;
}

}  // namespace quill::gui

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    using namespace quill::gui;
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    // The folder browser is a shell dialog: the thread needs COM.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    FrontEnd fe;
    fe.instance = instance;
    char exe[kPathBuffer] = {};
    const DWORD n = GetModuleFileNameA(nullptr, exe, sizeof exe);
    fe.paths = front_end_paths(std::string_view(exe, n < sizeof exe ? n : 0));
    fe.ini = PrivateProfileStore(fe.paths.ini);
    fe.last_chosen.clear();

    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, main_proc,
                                     reinterpret_cast<LPARAM>(&fe));
    if (!dialog) return 1;
    ShowWindow(dialog, SW_SHOWNORMAL);
    fe.command_line = std::string(command_line ? command_line : "");
    PostMessageA(dialog, WM_COMMAND, IDM_COMMAND_LINE, 0);

    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (IsWindow(fe.main) && TranslateAcceleratorA(fe.main, accelerators, &msg)) continue;
        if (IsWindow(fe.main) && IsDialogMessageA(fe.main, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    fe.command_line.reset();
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}
