// The front end's window layer: one record for the whole program, owned by the program entry and
// reached from the dialogs through their window data.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "input_files.h"
#include "private_profile.h"
#include "profiles.h"
#include "settings.h"

namespace quill::gui {

struct FrontEnd {
    HINSTANCE instance = nullptr;
    FrontEndPaths paths;
    PrivateProfileStore ini{""};
    HWND main = nullptr;        // the main dialog
    HWND tooltip = nullptr;
    HBRUSH preview_brush = nullptr;
    Settings panel;             // radio group states live here; switches and texts in the controls
    ProfileList profiles;
    int file_count = 0;         // input files the argument line names
    std::string last_chosen;    // where the file dialog starts
    std::optional<std::string> command_line;  // the front end's own arguments, until used
    bool loading = false;       // controls are being filled: no rebuilding on each change
};

// Control texts, read with a buffer of `buffer_size` bytes (terminating zero included).
std::string dialog_text(HWND dialog, int id, int buffer_size);
bool is_checked(HWND dialog, int id);
void set_checked(HWND dialog, int id, bool on);

// Free bytes available to the user on a drive ("C:", or "" for the current one).
std::optional<std::uint64_t> free_bytes(std::string_view drive);

// The main dialog's argument line, enabling and preview (after every change).
void rebuild_argument_line(FrontEnd& fe);

// The run window, modal, owned by the main dialog; returns when it closes.
void run_console(FrontEnd& fe, const std::string& arguments);

// Puts the text a drop or the file dialog produced into the main dialog's input field.
void set_input_field(FrontEnd& fe, const std::string& text);

// A drop of files onto a window: the paths in order.
std::vector<std::string> dropped_paths(HDROP drop);

}  // namespace quill::gui
