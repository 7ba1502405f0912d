// Audio channel-mode splits (-SEPA, -SEPA2, -SEPA3 and their C variants): when the AAC
// channel_configuration of an output's audio changes for longer than one frame, the output goes
// on in the file of the new mode. The group of pictures running at the change is
//   mode 1: cut from the old file and not written again (the new file's video starts at the next
//           GOP start, its audio 0.5005 s of audio time after the last GOP start);
//   mode 2: moved into the new file without its audio, which stays in the old file;
//   mode 3: moved into the new file with its audio; the old file keeps only the audio before the
//           first audio PES start of that GOP.
// Without the C variants every mode has one file ("-a<number>" for the second mode met and on),
// kept open while the mode is away and written on when it comes back; with them every stretch
// gets a file of its own ("-<split number>").
#pragma once
#include <cstdint>
#include <string>

#include "stream/pes.h"

namespace quill {

struct RunState;
struct OutputStream;

constexpr std::int64_t kAudioGuardTicks = 45045;  // 0.5005 s of audio time after the GOP start
constexpr std::size_t kLookAheadBytes = 0x400000;  // how far a change is confirmed ahead

// A change of the channel mode that waits for its confirmation further on in the input.
struct AudioChange {
    bool pending = false;
    AdtsMode found;  // the header of the new mode in the packet at hand
    int number = 0;  // the new mode's number in the slot's table
};

// The audio hook on a live packet of the slot's first audio PID, before it is written: mode
// tracking for the GOP list labels and, under -SEPA..., the start of a split at a change. A change
// is split on only when it lasts: `pending` asks the caller to read up to kLookAheadBytes further
// and to call audio_split_confirm with the mode found there.
AudioChange audio_split_audio_packet(RunState& run, int slot, const std::uint8_t* packet);

// The split of a pending change, or its cancellation when `later` (the channel mode of the next
// valid ADTS header of the slot's first audio PID ahead, -1 none) is not the new mode. `packet` is
// the same packet, possibly moved by the read-ahead. -1 when a write of the split failed.
[[nodiscard]] long long audio_split_confirm(RunState& run, int slot, const std::uint8_t* packet,
                                            const AudioChange& change, int later);

// The rules for every packet the routing hands the slot while a split is under way: in mode 1
// before the next GOP start, packets of the elementary streams are held back until the guard time
// has passed, then only the video. 1 when the packet is held back, 0 when routing goes on.
long long audio_split_hold(RunState& run, int slot, const std::uint8_t* packet);

// A programme or PMT cut of the slot: the part files other than the current one get their packet
// count into their GOP list's trailer and are closed.
void close_audio_parts_of_cut(RunState& run, int slot);
// The mode table starts afresh (a programme cut, a reassigned slot): part files still open other
// than the current one (and the previous file still taking overlap packets) are closed, the audio
// numbers restart at 0 with the last known mode as number 0.
void restart_audio_parts(RunState& run, int slot);
// A PMT cut also forgets the mode: the new streams' first header starts the table.
void forget_audio_mode(RunState& run, int slot);
// End of an input, after the job closed the slot's current file: the other part files get their
// GOP list trailers and are closed.
void finish_audio_parts(RunState& run, int slot);
// A pass is abandoned: part files other than the current one are closed as they are.
void drop_audio_parts(RunState& run, int slot);

}  // namespace quill
