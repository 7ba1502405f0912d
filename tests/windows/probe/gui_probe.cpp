// gui_probe: reads and pokes the front end's windows from outside, for the window tests (run
// under the same Wine server as the front end). Texts are printed in UTF-8.
//
//   gui_probe text main|run|about ID     text of a control (ID 0: the window's caption)
//   gui_probe enabled main|run ID        1 or 0
//   gui_probe checked main ID            1 or 0
//   gui_probe click main|run ID          posts a button click
//   gui_probe settext main ID TEXT       sets an edit box's text (TEXT in UTF-8)
//   gui_probe exists main|run|about      exit code 0 when the window is there
//   gui_probe drop main PATH...          drops the files on the window (WM_DROPFILES)
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "drop_hook.h"

namespace {

constexpr int kPreviewId = 1048;    // only the main dialog has it
constexpr int kOutputId = 1053;     // the run window's output box (the main dialog's 1053 is a button)

std::wstring class_of(HWND w) {
    wchar_t name[64] = {};
    GetClassNameW(w, name, 64);
    return name;
}

std::wstring text_of(HWND w) {
    const LRESULT n = SendMessageW(w, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> buf(static_cast<std::size_t>(n) + 1);
    SendMessageW(w, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    return buf.data();
}

struct Search {
    std::string which;
    HWND found = nullptr;
};

BOOL CALLBACK match(HWND w, LPARAM param) {
    auto& s = *reinterpret_cast<Search*>(param);
    if (!IsWindowVisible(w) || class_of(w) != L"#32770") return TRUE;
    HWND preview = GetDlgItem(w, kPreviewId);
    HWND output = GetDlgItem(w, kOutputId);
    bool ok = false;
    if (s.which == "main") ok = preview != nullptr;
    else if (s.which == "run") ok = output != nullptr && class_of(output) == L"Edit";
    else if (s.which == "about") ok = text_of(w) == L"バージョン情報";
    else if (s.which == "question") ok = GetDlgItem(w, IDOK) && GetDlgItem(w, IDCANCEL) && !preview && !output;
    if (ok) {
        s.found = w;
        return FALSE;
    }
    return TRUE;
}

HWND find(const std::string& which) {
    Search s{which};
    EnumWindows(match, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::string utf8(const std::wstring& w) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring wide(const char* s) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s, -1, out.data(), n);
    out.resize(static_cast<std::size_t>(n > 0 ? n - 1 : 0));
    return out;
}

// A drop as the shell hands it over: a DROPFILES header and the double-null-terminated list of
// wide names, which the receiver reads with DragQueryFile. The handle itself must be made in the
// front end's process: drop_hook.dll, hooked into the window's thread, copies this block into a
// GlobalAlloc'd one there and posts WM_DROPFILES (see drop_hook.cpp).
std::vector<char> drop_block(const std::vector<std::wstring>& paths) {
    std::size_t chars = 1;  // the empty name that ends the list
    for (const std::wstring& p : paths) chars += p.size() + 1;
    std::vector<char> block(sizeof(DROPFILES) + chars * sizeof(wchar_t), '\0');
    DROPFILES header{};
    header.pFiles = sizeof(DROPFILES);
    header.pt = {10, 10};
    header.fNC = FALSE;
    header.fWide = TRUE;
    std::memcpy(block.data(), &header, sizeof header);
    char* name = block.data() + sizeof header;
    for (const std::wstring& p : paths) {
        std::memcpy(name, p.c_str(), p.size() * sizeof(wchar_t));
        name += (p.size() + 1) * sizeof(wchar_t);
    }
    return block;
}

HMODULE load_drop_hook() {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll(path, n);
    dll.resize(dll.find_last_of(L"\\/") + 1);
    return LoadLibraryW((dll + L"drop_hook.dll").c_str());
}

bool drop_files(HWND window, const std::vector<std::wstring>& paths) {
    const std::vector<char> block = drop_block(paths);
    HMODULE hook_module = load_drop_hook();
    FARPROC found = hook_module ? GetProcAddress(hook_module, "drop_hook_proc") : nullptr;
    auto hook_proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(found));
    HANDLE shared = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       static_cast<DWORD>(block.size()), kDropBlockName);
    void* view = shared ? MapViewOfFile(shared, FILE_MAP_WRITE, 0, 0, block.size()) : nullptr;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, kDropDoneName);
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    HHOOK hook = hook_proc && view && done ? SetWindowsHookExW(WH_GETMESSAGE, hook_proc, hook_module, thread) : nullptr;
    bool dropped = false;
    if (hook) {
        std::memcpy(view, block.data(), block.size());
        dropped = PostMessageW(window, RegisterWindowMessageW(kDropMessage), block.size(), 0) &&
                  WaitForSingleObject(done, 10000) == WAIT_OBJECT_0;
        UnhookWindowsHookEx(hook);
    }
    if (done) CloseHandle(done);
    if (view) UnmapViewOfFile(view);
    if (shared) CloseHandle(shared);
    if (hook_module) FreeLibrary(hook_module);
    return dropped;
}

int usage() {
    std::fputs("usage: gui_probe text|enabled|checked|click|settext|exists WINDOW [ID [TEXT]]\n"
               "       gui_probe drop main PATH...\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string command = argv[1];
    HWND window = find(argv[2]);
    if (command == "exists") return window ? 0 : 1;
    if (command == "drop") {
        if (!window || argc < 4) return window ? usage() : 1;
        // The wide command line: the names may hold characters the ANSI code page has not.
        int count = 0;
        LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
        if (!words) return 1;
        std::vector<std::wstring> paths(words + 3, words + count);
        LocalFree(words);
        return drop_files(window, paths) ? 0 : 1;
    }
    if (!window || argc < 4) return window ? usage() : 1;
    const int id = std::atoi(argv[3]);
    HWND control = id == 0 ? window : GetDlgItem(window, id);
    if (!control) return 1;
    if (command == "text") {
        std::fputs(utf8(text_of(control)).c_str(), stdout);
    } else if (command == "enabled") {
        std::printf("%d", IsWindowEnabled(control) ? 1 : 0);
    } else if (command == "checked") {
        std::printf("%d", SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
    } else if (command == "click") {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    } else if (command == "settext" && argc >= 5) {
        const std::wstring text = wide(argv[4]);
        SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    } else {
        return usage();
    }
    return 0;
}
