// The input as the job reads it. A pass reads it from its first byte forward, and a new pass (after
// the look-ahead, a one-segment service taken up, CS found) starts again from the first byte. A file
// on disk is simply read and rewound. An input that cannot be rewound (a pipe, a FIFO) is copied as
// it is read into a spool file beside the outputs: a read behind what the pipe has delivered comes
// from the spool, a read at its end from the pipe, so every pass sees the bytes a file would give,
// while memory stays bounded whatever the input's length.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace quill {

struct Source {
    int fd = -1;
    bool pipe = false;
    // Pipes only.
    int spool_fd = -1;
    std::string spool_path;
    long long spooled = 0;      // bytes the pipe delivered, all of them in the spool
    long long spool_at = 0;     // where the spool's handle stands
    long long position = 0;     // the next byte the job reads
    bool pipe_ended = false;    // the pipe reported its end (or a read error)
    bool spool_failed = false;  // a spool write or read failed: the input cannot go on
};

// Takes an open input handle. A pipe gets its spool in `folder` (drive and folder as the outputs
// get them; empty: the current folder) under a name that no existing file has. False when the
// spool could not be created; the handle is left open.
bool source_begin(Source& s, int fd, const std::string& drive, const std::string& folder);

// Reads up to `count` bytes at the current position and moves it on. A pipe's read is filled to
// `count` unless the input ends, as a file's read would be. Returns the bytes read, 0 at the end
// of the input, -1 on a read error (a failed spool sets spool_failed as well).
long long source_read(Source& s, void* buffer, std::size_t count);

// Back to the first byte. Returns the input's size in bytes, -1 when it is not known (a pipe).
long long source_rewind(Source& s);

// Closes the input and removes the spool.
void source_end(Source& s);

}  // namespace quill
