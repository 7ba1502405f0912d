#include "console.h"

#include <clocale>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <vector>
#include <windows.h>

namespace quill {

namespace {

constexpr UINT kConsoleCodePage = 932;

ConsoleEncoding g_encoding = ConsoleEncoding::Cp932;

// Length of the valid UTF-8 sequence at `i`, 0 when the byte there does not start one.
std::size_t utf8_valid_length(const char* s, std::size_t length, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > length) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return n;
}

void append_converted(std::string& out, const char* utf8, std::size_t length) {
    if (length == 0) return;
    const int n = static_cast<int>(length);
    const int wide_length = MultiByteToWideChar(CP_UTF8, 0, utf8, n, nullptr, 0);
    if (wide_length <= 0) {
        out.append(utf8, length);
        return;
    }
    std::vector<wchar_t> wide(static_cast<std::size_t>(wide_length));
    MultiByteToWideChar(CP_UTF8, 0, utf8, n, wide.data(), wide_length);
    const int narrow_length = WideCharToMultiByte(kConsoleCodePage, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
    if (narrow_length <= 0) {
        out.append(utf8, length);
        return;
    }
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(narrow_length));
    WideCharToMultiByte(kConsoleCodePage, 0, wide.data(), wide_length, &out[at], narrow_length, nullptr, nullptr);
}

}  // namespace

void console_init() {
    // The texts are converted once, here, from the UTF-8 of the source to code page 932, whatever
    // code page the console or the system uses. Standard output and error are binary, so a line
    // ends in the bytes the program writes (as on every other system) and the front end sees
    // exactly those.
    g_encoding = ConsoleEncoding::Cp932;
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::setlocale(LC_NUMERIC, "C");
}

ConsoleEncoding console_encoding() { return g_encoding; }
void console_set_encoding(ConsoleEncoding encoding) { g_encoding = encoding; }

std::string to_console_text(const char* utf8, std::size_t length) {
    if (g_encoding == ConsoleEncoding::Utf8) return std::string(utf8, length);
    std::string out;
    out.reserve(length);
    // Runs of valid UTF-8 are converted; any other byte (a name already in code page 932, say)
    // is kept as it is.
    std::size_t run_start = 0;
    for (std::size_t i = 0; i < length;) {
        const std::size_t n = utf8_valid_length(utf8, length, i);
        if (n > 0) {
            i += n;
            continue;
        }
        append_converted(out, utf8 + run_start, i - run_start);
        out.push_back(utf8[i]);
        ++i;
        run_start = i;
    }
    append_converted(out, utf8 + run_start, length - run_start);
    return out;
}

void console_write(std::FILE* stream, const char* utf8) {
    const std::size_t n = std::strlen(utf8);
    if (g_encoding == ConsoleEncoding::Utf8) {
        std::fwrite(utf8, 1, n, stream);
    } else {
        const std::string text = to_console_text(utf8, n);
        std::fwrite(text.data(), 1, text.size(), stream);
    }
    std::fflush(stream);
}

bool stdout_is_interactive() {
    const DWORD type = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE));
    return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
}

}  // namespace quill
