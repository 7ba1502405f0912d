#include "console.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {

namespace {

ConsoleEncoding g_encoding = ConsoleEncoding::Utf8;

bool codeset_is_cp932(const char* codeset) {
    if (!codeset) return false;
    static const char* const names[] = {"CP932", "SHIFT_JIS", "SHIFT-JIS", "SJIS", "WINDOWS-31J", "MS932"};
    for (const char* n : names)
        if (strcasecmp(codeset, n) == 0) return true;
    return false;
}

}  // namespace

void console_init() {
    std::setlocale(LC_ALL, "");
    g_encoding = codeset_is_cp932(nl_langinfo(CODESET)) ? ConsoleEncoding::Cp932 : ConsoleEncoding::Utf8;
    // Numbers and messages must not follow the user's locale conventions.
    std::setlocale(LC_NUMERIC, "C");
}

ConsoleEncoding console_encoding() { return g_encoding; }
void console_set_encoding(ConsoleEncoding encoding) { g_encoding = encoding; }

std::string to_console_text(const char* utf8, std::size_t length) {
    if (g_encoding == ConsoleEncoding::Utf8) return std::string(utf8, length);
    static iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(utf8, length);
    std::string out;
    out.reserve(length);
    char* in = const_cast<char*>(utf8);
    std::size_t in_left = length;
    char chunk[256];
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    while (in_left > 0) {
        char* o = chunk;
        std::size_t o_left = sizeof chunk;
        std::size_t r = iconv(cd, &in, &in_left, &o, &o_left);
        out.append(chunk, static_cast<std::size_t>(o - chunk));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // Not convertible (foreign bytes in a path): keep the byte as it is and go on.
            out.push_back(*in);
            ++in;
            --in_left;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

void console_write(std::FILE* stream, const char* utf8) {
    std::size_t n = std::strlen(utf8);
    if (g_encoding == ConsoleEncoding::Utf8) {
        std::fwrite(utf8, 1, n, stream);
    } else {
        std::string text = to_console_text(utf8, n);
        std::fwrite(text.data(), 1, text.size(), stream);
    }
    std::fflush(stream);
}

bool stdout_is_interactive() {
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0) return false;
    return S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode);
}

}  // namespace quill
