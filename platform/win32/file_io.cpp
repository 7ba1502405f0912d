#include "file_io.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace quill {

namespace {

// Handles of our own files stay out of child processes.
constexpr int kOpenFlags = _O_BINARY | _O_NOINHERIT;

FileIdentity identity_of(HANDLE handle) {
    FileIdentity id;
    BY_HANDLE_FILE_INFORMATION info;
    if (handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info)) {
        id.device = info.dwVolumeSerialNumber;
        id.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        id.valid = true;
    }
    return id;
}

}  // namespace

int file_open_read(const char* path) {
    int fd = _open(path, _O_RDONLY | kOpenFlags);
    if (fd < 0) return -1;
    struct _stati64 st {};
    if (_fstati64(fd, &st) != 0 || (st.st_mode & _S_IFDIR)) {
        _close(fd);
        return -1;
    }
    return fd;
}

int file_open_rw_create(const char* path) {
    int fd = _open(path, _O_RDWR | _O_CREAT | kOpenFlags, _S_IREAD | _S_IWRITE);
    return fd < 0 ? -1 : fd;
}

int file_create_empty(const char* path) {
    int fd = _open(path, _O_WRONLY | _O_CREAT | _O_TRUNC | kOpenFlags, _S_IREAD | _S_IWRITE);
    if (fd < 0) return -1;
    _close(fd);
    return 0;
}

long long file_read(int fd, void* buffer, std::size_t count) {
    // _read takes an unsigned int count; callers read at most a few MiB at once.
    const unsigned int n = count > INT_MAX ? INT_MAX : static_cast<unsigned int>(count);
    return _read(fd, buffer, n);
}

long long file_write(int fd, const void* data, std::size_t count) {
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t left = count - done;
        const unsigned int chunk = left > INT_MAX ? INT_MAX : static_cast<unsigned int>(left);
        int n = _write(fd, p + done, chunk);
        if (n < 0) return done > 0 ? static_cast<long long>(done) : -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}

long long file_seek(int fd, long long offset, int origin) {
    int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
    return _lseeki64(fd, offset, whence);
}

int file_truncate(int fd, long long size) { return _chsize_s(fd, size) == 0 ? 0 : -1; }

int file_close(int fd) { return fd >= 0 ? _close(fd) : -1; }

FileIdentity file_identity(int fd) {
    if (fd < 0) return FileIdentity{};
    return identity_of(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
}

FileIdentity path_identity(const char* path) {
    // No access rights are asked for, so files opened elsewhere without sharing are still found;
    // the backup flag lets folders be opened too.
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FileIdentity{};
    FileIdentity id = identity_of(h);
    CloseHandle(h);
    return id;
}

int file_remove(const char* path) { return _unlink(path) == 0 ? 0 : -1; }

// Pipes are read as files on Windows, as before: no spool is kept there.
bool file_is_pipe(int) { return false; }
void pipe_widen(int) {}

int file_open_standard_input() {
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (in == INVALID_HANDLE_VALUE || in == nullptr || GetFileType(in) != FILE_TYPE_DISK) return -1;
    const int fd = _dup(0);
    if (fd < 0) return -1;
    _setmode(fd, _O_BINARY);
    return fd;
}

int file_create_new(const char* path) {
    int fd = _open(path, _O_RDWR | _O_CREAT | _O_EXCL | kOpenFlags, _S_IREAD | _S_IWRITE);
    return fd < 0 ? -1 : fd;
}

}  // namespace quill
