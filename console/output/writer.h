// The single way a packet reaches an output file: lazy open, -BUFF buffering, the overlap ring
// and the previous file that still takes packets after a split.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "state/run_state.h"

namespace quill {

// Whether `id` is a file the program only reads (the input, a -FLIST file): never an output.
bool is_read_only_file(const RunState& run, const FileIdentity& id);
// Every file the current pass creates or opens again is noted (stream files, audio parts, GOP
// lists), once: the files only an abandoned pass opened are removed at the end of the input.
void note_opened_file(RunState& run, const std::string& path);

// The overlap ring: the last packets a slot wrote live, for the overlap kept before a split.
void ring_resize(PacketRing& ring, int capacity);  // empties the ring
void ring_push(PacketRing& ring, const std::uint8_t* packet);
void ring_clear(PacketRing& ring);
const std::uint8_t* ring_at(const PacketRing& ring, int i);  // i-th oldest

// 0 when the slot takes nothing or the packet was only buffered; 188 after a direct write (and in
// GOP-only mode); the bytes written when the buffer was flushed; -1 after an open or write failure
// (the message is printed here).
[[nodiscard]] long long write_packet(RunState& run, OutputStream& slot, const std::uint8_t* packet, int live);

// Writes the buffered packets: first the part the overlap-after file still takes, then all of
// them to the slot's file. Returns the bytes written to the slot's file; -1 after a failed write
// (the message is printed here).
[[nodiscard]] long long flush_write_buffer(OutputStream& slot);

// The part of the buffered packets that the previous file (overlap after a split) is still due,
// written to it; -1 after a failed write (the message is printed here), else 0. Nothing is
// counted off what the file is due.
[[nodiscard]] long long write_overlap_due(OutputStream& slot);

// write_overlap_due, counted off what the previous file is due; that file is closed once it has
// taken all of it. -1 after a failed write, else 0.
[[nodiscard]] long long write_overlap_after_part(OutputStream& slot);

// Writes `count` bytes to `fd`, the file at `path`; -1 with the write failure line printed when
// not all of them were written, else 0.
[[nodiscard]] long long write_checked(int fd, const void* data, std::size_t count, const std::string& path);

// Everything buffered goes to the slot's file. -1 after a failed write (the message is printed
// here), else 0; the buffer is empty afterwards either way.
[[nodiscard]] long long write_out_buffer(OutputStream& slot);

// The slot's own PAT: the network PID and the slot's service only, behind the header of the last
// PAT received (nothing before a PAT came). -1 when the write failed.
[[nodiscard]] long long write_own_pat(RunState& run, OutputStream& slot, int live);

// A file started by a split begins with a PAT and a PMT so that it can be read on its own: `pat`,
// a received PAT to repeat, or else the slot's own PAT, then `pmt` when there is one; both as
// replayed packets. -1 when a write failed, else 0.
[[nodiscard]] long long write_file_start(RunState& run, OutputStream& slot, const std::uint8_t* pat,
                                         const std::uint8_t* pmt);

// Releases the write buffer (pointer null, capacity and fill 0).
void release_write_buffer(OutputStream& slot);

}  // namespace quill
