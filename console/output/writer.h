// The single way a packet reaches an output file: lazy open, -BUFF buffering, the overlap ring
// and the previous file that still takes packets after a split.
#pragma once
#include <cstdint>

#include "run_state.h"

namespace quill {

// 0 when the slot takes nothing or the packet was only buffered; 188 after a direct write (and in
// GOP-only mode); the bytes written when the buffer was flushed; -1 after an open or write failure
// (the message is printed here).
long long write_packet(RunState& run, OutputStream& slot, const std::uint8_t* packet, int live);

// Writes the buffered packets: first the part the overlap-after file still takes, then all of
// them to the slot's file. Returns the bytes written to the slot's file (-1 on a failed write).
long long flush_write_buffer(RunState& run, OutputStream& slot);

// The part of the buffered packets that the previous file (overlap after a split) still takes;
// that file is closed once it has taken all it is due.
void write_overlap_after_part(OutputStream& slot);

// Releases the write buffer (pointer null, capacity and fill 0).
void release_write_buffer(OutputStream& slot);

}  // namespace quill
