// GOP lists for the cut editor ("TS_CUT2" text files beside the outputs): detection of GOP
// starts in the video PES (ISO/IEC 13818-2 sequence header right behind the PES header), the
// list lines with their channel and time labels, the trailers, the hand-over of a list at a cut,
// and the broken_link mark of the first GOP of a file that starts with a cut.
//
// A list reads: "TS_CUT2", an empty line, one line per GOP start
// ("pid,label,hh:mm:ss:mmm,pts,packet number"), then the trailer; every line ends in CR LF.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quill {

struct RunState;
struct OutputStream;
struct Options;

constexpr std::size_t kGopListBufferSize = std::size_t{1} << 20;

// The GOP work on one packet of the slot's video PID, before the packet is written. `live` is 1
// for packets as they arrive, 0 for packets replayed into a new file after a cut. The packet may
// get its broken_link bit set.
void gop_list_packet(RunState& run, int slot, std::uint8_t* packet, int live);

// The list of an output file: the output's path with ".txt" behind its extension; under -FLEN
// the output's suffix stays whole.
std::string gop_list_path(const Options& options, const OutputStream& slot);

// The list of the previous file (the one still taking a trailing overlap after a cut) gets its
// trailer and is closed; its buffered lines are kept only while the slot's overlaps are on (its
// overlap file takes the packets they point to).
void finish_overlap_gop_list(OutputStream& slot);
// A cut: the current list becomes the previous file's list, which still receives the GOP starts
// of its trailing overlap, numbered on from the finished file's packet count. The next video
// packet opens the new file's list.
void pass_gop_list_on(OutputStream& slot);
// End of an input: both lists flushed, given their trailers and closed.
void finish_gop_lists(OutputStream& slot);

// Opens an existing list (or creates it) to write on at its end; -1 when it cannot be opened or is
// the input itself, which is never written.
int reopen_gop_list(RunState& run, const std::string& path);

// Building blocks for the splits.
void flush_gop_list(int fd, std::unique_ptr<char[]>& buffer, std::size_t& fill);
void append_gop_trailer(int fd, int packet_count);
// Start values of a new pass or job; open lists are closed without trailer.
void reset_gop_state(OutputStream& slot);

}  // namespace quill
