// Handle-level file access: the console program reads and writes its transport streams through
// these calls only, in binary mode, with 64-bit positions.
#pragma once
#include <cstddef>
#include <cstdint>

namespace quill {

// Identity of an open file or of a path on disk; two names of one file compare equal.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool valid = false;
    bool operator==(const FileIdentity& o) const {
        return valid && o.valid && device == o.device && inode == o.inode;
    }
};

// Origins of file_seek.
constexpr int kSeekSet = 0;
constexpr int kSeekCurrent = 1;
constexpr int kSeekEnd = 2;

int file_open_read(const char* path);  // -1 on failure; directories are refused
// Opens for reading and writing, creating the file when missing (on POSIX systems with mode 0666
// less the umask). The file is not truncated here: the caller checks the identity first and then
// calls file_truncate.
int file_open_rw_create(const char* path);
int file_create_empty(const char* path);  // create or truncate, then close; -1 on failure
long long file_read(int fd, void* buffer, std::size_t count);         // bytes read, 0 at end, -1 error
// Bytes written, -1 error. A short count is a failure the caller reports (or, for text files whose
// write errors are ignored on purpose, says so).
[[nodiscard]] long long file_write(int fd, const void* data, std::size_t count);
long long file_seek(int fd, long long offset, int origin);           // origin: kSeekSet, kSeekCurrent, kSeekEnd
int file_truncate(int fd, long long size);                           // 0 or -1
int file_close(int fd);
FileIdentity file_identity(int fd);
FileIdentity path_identity(const char* path);  // invalid when the path does not exist
int file_remove(const char* path);

// Whether reads of `fd` can only go forward: a pipe, a FIFO, a socket or a terminal (POSIX). What
// the job reads from such an input it keeps in a spool file to read it again. Windows reads every
// input as a file, as it always has: false there.
bool file_is_pipe(int fd);
// Lets a pipe hold more (1 MiB) so that its writer runs ahead of the reader; nothing where the
// system refuses it or has no such setting.
void pipe_widen(int fd);
// The standard input as a handle of its own (closed with file_close), -1 when it is a terminal: a
// recording never comes from the keyboard, and a read would only wait for one. Windows takes a
// redirected disk file only, not a pipe.
int file_open_standard_input();
// Creates a new file for reading and writing, readable by its owner only; -1 when the name exists
// (whatever it is: a file, a link, the input) or cannot be created.
int file_create_new(const char* path);

}  // namespace quill
