// Console text. Every message of the program is written in UTF-8 in the source and converted here
// to the console's encoding: code page 932 on Windows and on POSIX systems whose locale codeset is
// Shift_JIS/CP932, unchanged UTF-8 elsewhere.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>

namespace quill {

enum class ConsoleEncoding { Utf8, Cp932 };

// Reads the locale once; call before the first message.
void console_init();
ConsoleEncoding console_encoding();
void console_set_encoding(ConsoleEncoding encoding);  // tests

// Converts UTF-8 text to the console encoding; bytes that are not valid UTF-8 (a file name in
// another encoding, say) pass through unchanged.
std::string to_console_text(const char* utf8, std::size_t length);

void console_write(std::FILE* stream, const char* utf8);
void console_printf(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
void console_vprintf(std::FILE* stream, const char* format, va_list args);

// True when standard output is a terminal or a pipe (not a disk file).
bool stdout_is_interactive();

}  // namespace quill
