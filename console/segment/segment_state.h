// The segmentation's state of one output slot as a whole: what starts afresh with every pass, and
// what is finished when the input ends.
#pragma once

namespace quill {

struct RunState;

// Start values of a new pass: clocks, GOP detection and lists, audio tracking and parts, splits.
void reset_slot_segments(RunState& run, int slot);
// End of an input, after the slot's file was flushed and closed: GOP lists get their trailers,
// audio part files are finished.
void finish_slot_segments(RunState& run, int slot);

}  // namespace quill
