// Every text the front end's logic shows or emits, in one place.
//
// The source holds them in UTF-8; the Windows layer converts them to code page 932 when it hands
// them to the window system, so nothing else in gui/core spells a user-visible text.
#pragma once

namespace quill::gui::text {

// Profile list and its message boxes.
inline constexpr const char* kLastSettings = "前回の設定";
inline constexpr const char* kProfileBoxCaption = "設定の保存";
inline constexpr const char* kProfileReserved = "この設定名はシステムで使用してます";
inline constexpr const char* kProfileOverwrite = "この設定名は既に存在しています\r\n上書きしますか？";
inline constexpr const char* kProfileDelete = "この設定名を削除します\r\nよろしいですか？";

// Free-space texts (printf formats: decimals, value, unit; the browser's adds the drive first).
inline constexpr const char* kFreeSpaceLabel = "(空きディスク領域 %.*f %s)";
inline constexpr const char* kFreeSpaceBrowser = "[%s\\] : (空きディスク領域 %.*f %s)";
inline constexpr const char* kUnitGB = "GB";
inline constexpr const char* kUnitMB = "MB";
inline constexpr const char* kUnitKB = "KB";
// Our own choice for 1024 free bytes or fewer: the plain byte count.
inline constexpr const char* kUnitBytes = "B";

// Run window: captions and the lines it writes itself.
inline constexpr const char* kProgressCaption = "%d%% - %s";
inline constexpr const char* kEndedCaption = "終了 - %s";
inline constexpr const char* kRunEnded = "終了しました。";
inline constexpr const char* kRunStopped = "強制終了しました。";
inline constexpr const char* kStopQuestion = "コマンドの実行を強制終了しますか?";
inline constexpr const char* kStopQuestionCaption = "Quillodine";
inline constexpr const char* kCreatePipeError = "CreatePipe Error";
inline constexpr const char* kCreateProcessError = "CreateProcess Error";
inline constexpr const char* kSetStdOutError = "SetStdHandle(STD_OUTPUT_HANDLE) Error";
inline constexpr const char* kSetStdErrError = "SetStdHandle(STD_ERROR_HANDLE) Error";
inline constexpr const char* kCloseHandleError = "CloseHandle Error";
inline constexpr const char* kButtonClose = "閉じる";
inline constexpr const char* kButtonStop = "強制終了";

// Main window button whose enabling the argument line decides.
inline constexpr const char* kConvertButton = "変換";

}  // namespace quill::gui::text
