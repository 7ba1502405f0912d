// The few POSIX calls that the console program's unit tests use, for their Windows build (given
// to the compiler with -include). Test code only: the program itself reaches the system through
// platform/.
#pragma once
#include <cstdlib>
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <string>

inline int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && std::getenv(name)) return 0;
    return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }

// Replaces the trailing XXXXXX of `templ` and creates the folder; nullptr when that fails.
inline char* mkdtemp(char* templ) {
    std::string name(templ);
    if (name.size() < 6 || name.compare(name.size() - 6, 6, "XXXXXX") != 0) return nullptr;
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (_mktemp_s(templ, name.size() + 1) != 0) return nullptr;
        if (_mkdir(templ) == 0) return templ;
        name.copy(templ, name.size());
    }
    return nullptr;
}

// An anonymous pipe in binary mode.
inline int pipe(int fds[2]) { return _pipe(fds, 65536, _O_BINARY); }
