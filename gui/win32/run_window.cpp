// The run window: starts the console program as a hidden child on one pipe, shows its output,
// the progress in the main window's caption, and lets the user stop it.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <vector>

#include "argument_line.h"
#include "front_end.h"
#include "resource.h"
#include "run_output.h"
#include "texts.h"

namespace quill::gui {

namespace {

constexpr UINT_PTR kStartTimer = 100;
constexpr UINT_PTR kReadTimer = 101;
constexpr std::size_t kArgumentMax = 10239;
constexpr std::size_t kAppendBuffer = 20480;

// The output box, written in the four modes of the reader.
struct OutputBox final : OutputSink {
    HWND edit = nullptr;
    DWORD mark = 0;

    void move_mark_to_caret() {
        // The caret goes to the end of the text; positions come from the box itself, so they are
        // in the box's own units whatever the characters are.
        SendMessageA(edit, EM_SETSEL, 0, -1);
        DWORD start = 0, end = 0;
        SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        SendMessageA(edit, EM_SETSEL, end, end);
        mark = end;
    }
    void replace_from_mark(const std::string& text) {
        SendMessageA(edit, EM_SETSEL, mark, -1);
        SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    }
    void append_output(std::string_view text, AppendMode mode) override {
        std::string copy(text.substr(0, kAppendBuffer - 1));
        switch (mode) {
        case AppendMode::Clear: SetWindowTextA(edit, ""); break;
        case AppendMode::Mark: move_mark_to_caret(); break;
        case AppendMode::Replace: replace_from_mark(copy); break;
        case AppendMode::Commit:
            copy += "\r\n";
            replace_from_mark(copy);
            move_mark_to_caret();
            break;
        }
    }
};

struct MainCaption final : CaptionSink {
    HWND main = nullptr;
    void set_caption(std::string_view text) override { SetWindowTextA(main, std::string(text).c_str()); }
};

struct RunWindow {
    RunWindow(FrontEnd& f, std::string a) : fe(f), arguments(std::move(a)) {}
    FrontEnd& fe;
    std::string arguments;
    HWND window = nullptr;
    RunReader reader;
    OutputBox box;
    MainCaption caption;
    HANDLE process = nullptr;
    HANDLE pipe_read = nullptr;
    HANDLE pipe_write = nullptr;
    UINT_PTR timer = 0;
    HFONT font = nullptr;
    HBRUSH brush = nullptr;
    int button_cx = 0;
    int button_cy = 0;
    bool accepting_drops = false;
};

RunWindow& run_of(HWND window) { return *reinterpret_cast<RunWindow*>(GetWindowLongPtrA(window, DWLP_USER)); }

void set_button(RunWindow& rw, const char* text) { SetDlgItemTextA(rw.window, IDCANCEL, text); }

void stop_timer(RunWindow& rw) {
    if (rw.timer) KillTimer(rw.window, rw.timer);
    rw.timer = 0;
}

void close_handle(HANDLE& h) {
    if (h) CloseHandle(h);
    h = nullptr;
}

void open_window(RunWindow& rw) {
    HWND w = rw.window;
    if (IsIconic(w)) ShowWindow(w, SW_RESTORE);
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    const Placement p = load_run_window_placement(rw.fe.ini, desktop.right - desktop.left, desktop.bottom - desktop.top);
    SetWindowPos(w, nullptr, p.x, p.y, p.cx, p.cy, SWP_NOZORDER);
    ShowWindow(w, SW_SHOW);
    char title[kSavedTitleMax + 1] = {};
    GetWindowTextA(rw.fe.main, title, sizeof title);
    rw.box.edit = GetDlgItem(w, IDC_OUTPUT);
    rw.caption.main = rw.fe.main;
    run_open(rw.reader, rw.fe.file_count, title, rw.box);
    rw.timer = SetTimer(w, kStartTimer, 100, nullptr);
    rw.brush = CreateSolidBrush(RGB(0, 0, 0));
    set_button(rw, text::kButtonClose);
    rw.font = CreateFontA(12, 0, 0, 0, 0, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                          DEFAULT_QUALITY, DEFAULT_PITCH, "ＭＳゴシック");
    SendMessageA(rw.box.edit, WM_SETFONT, reinterpret_cast<WPARAM>(rw.font), TRUE);
    SendMessageA(rw.box.edit, EM_LIMITTEXT, 0, 0);
    rw.process = nullptr;
    rw.box.append_output("", AppendMode::Clear);
    RECT button;
    GetClientRect(GetDlgItem(w, IDCANCEL), &button);
    rw.button_cx = button.right - button.left;
    rw.button_cy = button.bottom - button.top;
    PostMessageA(w, WM_SIZE, 0, 0);
}

void layout(RunWindow& rw) {
    RECT client;
    GetClientRect(rw.window, &client);
    const int cx = client.right - client.left;
    const int cy = client.bottom - client.top;
    MoveWindow(rw.box.edit, 0, 0, cx, cy - rw.button_cy - 8, TRUE);
    MoveWindow(GetDlgItem(rw.window, IDCANCEL), cx - rw.button_cx - 8, cy - rw.button_cy - 4, rw.button_cx,
               rw.button_cy, TRUE);
}

void start_failed(RunWindow& rw, StartError e) {
    run_start_failed(rw.reader, e, rw.box);
    close_handle(rw.pipe_read);
    close_handle(rw.pipe_write);
    // The child may already run, but nobody reads its output any more: stop it rather than leave
    // an invisible process behind.
    if (rw.process) TerminateProcess(rw.process, 0);
    close_handle(rw.process);
}

void start_child(RunWindow& rw) {
    stop_timer(rw);
    std::string command = child_command_line(rw.fe.paths.console, rw.arguments);
    HANDLE saved_out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE saved_err = GetStdHandle(STD_ERROR_HANDLE);
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    if (!CreatePipe(&rw.pipe_read, &rw.pipe_write, &sa, 0)) {
        rw.pipe_read = rw.pipe_write = nullptr;
        start_failed(rw, StartError::CreatePipe);
        return;
    }
    // Only the write end goes to the child; its copy of the read end would be of no use to it.
    SetHandleInformation(rw.pipe_read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    GetStartupInfoA(&si);
    si.dwFlags |= STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    si.hStdOutput = rw.pipe_write;
    si.hStdError = rw.pipe_write;
    PROCESS_INFORMATION pi{};
    std::vector<char> mutable_command(command.begin(), command.end());
    mutable_command.push_back('\0');
    if (!CreateProcessA(nullptr, mutable_command.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                        nullptr, &si, &pi)) {
        start_failed(rw, StartError::CreateProcess);
        return;
    }
    CloseHandle(pi.hThread);
    rw.process = pi.hProcess;
    if (!SetStdHandle(STD_OUTPUT_HANDLE, saved_out)) {
        start_failed(rw, StartError::SetStdOutput);
        return;
    }
    if (!SetStdHandle(STD_ERROR_HANDLE, saved_err)) {
        start_failed(rw, StartError::SetStdError);
        return;
    }
    // Our copy of the write end goes, so the pipe breaks when the child ends.
    if (!CloseHandle(rw.pipe_write)) {
        rw.pipe_write = nullptr;
        start_failed(rw, StartError::CloseHandle);
        return;
    }
    rw.pipe_write = nullptr;
    rw.timer = SetTimer(rw.window, kReadTimer, 1000, nullptr);
    run_started(rw.reader, rw.box);
    set_button(rw, text::kButtonStop);
}

void run_ended(RunWindow& rw) {
    close_handle(rw.process);
    stop_timer(rw);
    set_button(rw, text::kButtonClose);
    close_handle(rw.pipe_read);
    rw.accepting_drops = true;
    DragAcceptFiles(rw.window, TRUE);
}

void read_tick(RunWindow& rw) {
    // The pipe is asked how much it holds first, so a silent child never blocks the window.
    char chunk[kReadChunkMax];
    DWORD got = 0;
    DWORD available = 0;
    if (rw.pipe_read && PeekNamedPipe(rw.pipe_read, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        const DWORD want = available < kReadChunkMax ? available : static_cast<DWORD>(kReadChunkMax);
        if (!ReadFile(rw.pipe_read, chunk, want, &got, nullptr)) got = 0;
    }
    auto still_active = [&rw]() {
        DWORD code = 0;
        return rw.process && GetExitCodeProcess(rw.process, &code) && code == STILL_ACTIVE;
    };
    const TickResult t = run_tick(rw.reader, std::string_view(chunk, got), still_active, rw.box, rw.caption);
    if (t.ended) run_ended(rw);
}

void forced_stop(RunWindow& rw) {
    const int answer = MessageBoxA(rw.window, text::kStopQuestion, text::kStopQuestionCaption, MB_ICONQUESTION | MB_OKCANCEL);
    if (answer != IDOK || !rw.process) return;
    stop_timer(rw);
    TerminateProcess(rw.process, 0);
    close_handle(rw.process);
    set_button(rw, text::kButtonClose);
    close_handle(rw.pipe_read);
    run_forced_stop(rw.reader, rw.box);
    rw.accepting_drops = true;
    DragAcceptFiles(rw.window, TRUE);
}

void close_window(RunWindow& rw) {
    stop_timer(rw);
    if (rw.brush) DeleteObject(rw.brush);
    rw.brush = nullptr;
    if (IsIconic(rw.window)) ShowWindow(rw.window, SW_RESTORE);
    RECT r;
    GetWindowRect(rw.window, &r);
    save_run_window_placement(rw.fe.ini, Placement{r.left, r.top, r.right - r.left, r.bottom - r.top});
    SetWindowTextA(rw.fe.main, rw.reader.saved_title.c_str());
    EndDialog(rw.window, IDCANCEL);
}

void files_dropped(RunWindow& rw, HDROP drop) {
    const std::vector<std::string> paths = dropped_paths(drop);
    DragFinish(drop);
    if (!rw.accepting_drops || rw.process || paths.empty()) return;
    JoinedInput joined = join_paths(paths);
    set_input_field(rw.fe, input_field_text(joined, rw.fe.paths.list, rw.fe.file_count));
    PostMessageA(rw.window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

INT_PTR CALLBACK run_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lparam);
        RunWindow& rw = *reinterpret_cast<RunWindow*>(lparam);
        rw.window = window;
        open_window(rw);
        return TRUE;
    }
    if (!GetWindowLongPtrA(window, DWLP_USER)) return FALSE;
    RunWindow& rw = run_of(window);
    switch (message) {
    case WM_SIZE: layout(rw); return TRUE;
    case WM_GETMINMAXINFO: {
        auto* mm = reinterpret_cast<MINMAXINFO*>(lparam);
        mm->ptMinTrackSize.x = 500;
        mm->ptMinTrackSize.y = 300;
        return TRUE;
    }
    case WM_TIMER:
        if (wparam == kStartTimer) start_child(rw);
        else if (wparam == kReadTimer) read_tick(rw);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDCANCEL) {
            if (rw.process) forced_stop(rw);
            else close_window(rw);
        }
        return TRUE;
    case WM_CTLCOLORSTATIC:
        if (reinterpret_cast<HWND>(lparam) == rw.box.edit && rw.brush) {
            HDC dc = reinterpret_cast<HDC>(wparam);
            SetTextColor(dc, RGB(255, 255, 255));
            SetBkColor(dc, RGB(0, 0, 0));
            return reinterpret_cast<INT_PTR>(rw.brush);
        }
        return FALSE;
    case WM_DROPFILES: files_dropped(rw, reinterpret_cast<HDROP>(wparam)); return TRUE;
    case WM_DESTROY:
        // Whatever ended the dialog, nothing of the run outlives it.
        stop_timer(rw);
        close_handle(rw.pipe_read);
        close_handle(rw.pipe_write);
        close_handle(rw.process);
        if (rw.font) DeleteObject(rw.font);
        rw.font = nullptr;
        return FALSE;
    default: return FALSE;
    }
}

}  // namespace

void run_console(FrontEnd& fe, const std::string& arguments) {
    RunWindow rw(fe, arguments.substr(0, kArgumentMax));
    DialogBoxParamA(fe.instance, MAKEINTRESOURCEA(IDD_RUN), fe.main, run_proc, reinterpret_cast<LPARAM>(&rw));
}

}  // namespace quill::gui
