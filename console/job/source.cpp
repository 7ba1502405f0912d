#include "job/source.h"

#include <algorithm>
#include <cstdio>

#include "platform/file_io.h"
#include "platform/path.h"
#include "platform/system.h"

namespace quill {

namespace {

// Names tried for a spool before giving up: a leftover of a killed run with the same process id
// is stepped over, never reused.
constexpr int kSpoolNameAttempts = 100;

// A hidden name no output of the program has (outputs start with the input's name), so that media
// servers watching the folder do not index it either. An output that still lands on it is refused
// like an output landing on the input (see is_read_only_file).
std::string spool_name(int attempt) {
    char name[64];
    if (attempt == 0)
        std::snprintf(name, sizeof name, ".quillodine-%lu", process_id());
    else
        std::snprintf(name, sizeof name, ".quillodine-%lu-%d", process_id(), attempt);
    return name;
}

bool spool_seek(Source& s, long long at) {
    if (s.spool_at == at) return true;
    if (file_seek(s.spool_fd, at, kSeekSet) != at) return false;
    s.spool_at = at;
    return true;
}

// Bytes behind the pipe's end, from the spool.
long long read_spooled(Source& s, std::uint8_t* to, std::size_t count) {
    const std::size_t n = static_cast<std::size_t>(std::min<long long>(static_cast<long long>(count), s.spooled - s.position));
    if (!spool_seek(s, s.position)) return -1;
    const long long got = file_read(s.spool_fd, to, n);
    if (got <= 0) return -1;
    s.spool_at += got;
    return got;
}

// New bytes from the pipe, appended to the spool. 0 at the pipe's end.
long long read_pipe(Source& s, std::uint8_t* to, std::size_t count) {
    const long long got = file_read(s.fd, to, count);
    if (got <= 0) {
        // A read error ends the input where it happened, as it does for a file.
        s.pipe_ended = true;
        return 0;
    }
    if (!spool_seek(s, s.spooled) || file_write(s.spool_fd, to, static_cast<std::size_t>(got)) != got) {
        s.spool_failed = true;
        return -1;
    }
    s.spool_at += got;
    s.spooled += got;
    return got;
}

}  // namespace

bool source_begin(Source& s, int fd, const std::string& drive, const std::string& folder) {
    s = Source{};
    s.fd = fd;
    s.pipe = file_is_pipe(fd);
    if (!s.pipe) return true;
    pipe_widen(fd);
    for (int attempt = 0; attempt < kSpoolNameAttempts; ++attempt) {
        const std::string path = join_path(drive, folder, spool_name(attempt), ".spool");
        if (attempt == 0) s.spool_path = path;  // named in the error line when none can be made
        s.spool_fd = file_create_new(path.c_str());
        if (s.spool_fd >= 0) {
            s.spool_path = path;
            remove_on_interrupt(path.c_str());
            return true;
        }
        if (!path_identity(path.c_str()).valid) break;  // not taken: the folder refuses new files
    }
    return false;
}

long long source_read(Source& s, void* buffer, std::size_t count) {
    if (!s.pipe) return file_read(s.fd, buffer, count);
    if (s.spool_failed) return -1;
    std::uint8_t* to = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        long long got;
        if (s.position < s.spooled)
            got = read_spooled(s, to + done, count - done);
        else if (!s.pipe_ended)
            got = read_pipe(s, to + done, count - done);
        else
            break;
        if (got < 0) {
            s.spool_failed = true;
            return -1;
        }
        if (got == 0) break;
        s.position += got;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

long long source_rewind(Source& s) {
    if (s.pipe) {
        s.position = 0;
        return -1;
    }
    const long long size = file_seek(s.fd, 0, kSeekEnd);
    file_seek(s.fd, 0, kSeekSet);
    return size;
}

void source_end(Source& s) {
    if (s.spool_fd >= 0) {
        forget_on_interrupt();
        file_close(s.spool_fd);
        file_remove(s.spool_path.c_str());
    }
    file_close(s.fd);
    s = Source{};
}

}  // namespace quill
