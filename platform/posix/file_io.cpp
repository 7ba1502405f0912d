#include "file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill {

namespace {

// An input handle, or -1 (closed) when it is a folder: a folder is never read as a recording.
int unless_folder(int fd) {
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// New files get 0666 less the process umask, as every Unix tool creates them: the split files of a
// recording are meant to be read by a media server or another user as the recording itself is.
constexpr mode_t kNewFileMode = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;

}  // namespace

int file_open_read(const char* path) { return unless_folder(::open(path, O_RDONLY | O_CLOEXEC)); }

int file_open_rw_create(const char* path) {
    int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, kNewFileMode);
    return fd < 0 ? -1 : fd;
}

int file_create_empty(const char* path) {
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kNewFileMode);
    if (fd < 0) return -1;
    ::close(fd);
    return 0;
}

long long file_read(int fd, void* buffer, std::size_t count) {
    for (;;) {
        ssize_t n = ::read(fd, buffer, count);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

long long file_write(int fd, const void* data, std::size_t count) {
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return done > 0 ? static_cast<long long>(done) : -1;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(done);
}

long long file_seek(int fd, long long offset, int origin) {
    int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
    return ::lseek(fd, offset, whence);
}

int file_truncate(int fd, long long size) { return ::ftruncate(fd, size) == 0 ? 0 : -1; }

int file_close(int fd) { return fd >= 0 ? ::close(fd) : -1; }

FileIdentity file_identity(int fd) {
    struct stat st {};
    FileIdentity id;
    if (fd >= 0 && ::fstat(fd, &st) == 0) {
        id.device = st.st_dev;
        id.inode = st.st_ino;
        id.valid = true;
    }
    return id;
}

FileIdentity path_identity(const char* path) {
    struct stat st {};
    FileIdentity id;
    if (::stat(path, &st) == 0) {
        id.device = st.st_dev;
        id.inode = st.st_ino;
        id.valid = true;
    }
    return id;
}

int file_remove(const char* path) { return ::unlink(path) == 0 ? 0 : -1; }

bool file_is_pipe(int fd) { return ::lseek(fd, 0, SEEK_CUR) < 0 && errno == ESPIPE; }

void pipe_widen(int fd) {
#ifdef F_SETPIPE_SZ
    // A pipe holds 64 KiB by default: reader and writer would take turns 16 times per MiB. A
    // larger one (up to what the system allows unprivileged processes, 1 MiB) lets the writer run
    // ahead; where it is refused, or the writer made it larger still, the pipe stays as it is.
    constexpr int kPipeBytes = 1 << 20;
    const int size = ::fcntl(fd, F_GETPIPE_SZ);
    if (size >= 0 && size < kPipeBytes) ::fcntl(fd, F_SETPIPE_SZ, kPipeBytes);
#else
    (void)fd;
#endif
}

int file_open_standard_input() {
    if (::isatty(STDIN_FILENO)) return -1;
    return unless_folder(::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
}

int file_create_new(const char* path) {
    const int fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
    return fd < 0 ? -1 : fd;
}

}  // namespace quill
