// One output slot: its current file, the write buffer, the programme it carries and the state the
// segmentation keeps for it. The program has a fixed array of 20 (see RunState).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"
#include "state/mpeg.h"
#include "state/statistics.h"
#include "state/tables.h"

namespace quill {

constexpr int kSlotCount = 20;
constexpr int kSlotHd = 0;
constexpr int kSlotOneSeg = 1;
constexpr int kSlotOneSeg2 = 2;
constexpr int kFirstMultiSlot = 3;

// Entries of an output's table of AAC channel modes met in one input.
constexpr int kAudioModeEntries = 50;

using Packet = std::array<std::uint8_t, kPacketSize>;

// The last packets a slot wrote live, for the overlap kept before a split: one flat buffer of
// `capacity` packets, taken on the first push and kept across splits and passes, so that neither
// pushing nor starting over allocates.
struct PacketRing {
    std::unique_ptr<std::uint8_t[]> bytes;
    int head = 0;      // the oldest packet
    int count = 0;
    int capacity = 0;  // in packets
};

// The file a slot writes and its write buffer (output/writer).
struct SlotFile {
    int fd = -1;
    std::string path;
    std::string suffix;  // what the slot adds to the input's name: "_HD", "_SD1", "_CS2" ...
    int enabled = 0;     // the options let the slot write
    // -BUFF buffer; capacity is 64-bit so that large sizes cannot wrap.
    LargeBuffer write_buffer;
    std::size_t buffer_capacity = 0;
    std::size_t buffer_fill = 0;
    int packets_written = 0;  // of the current file (GOP lists number their lines with it)
    int scrambled_count = 0;
    PacketRing overlap_ring;
    // The previous file after a split, still taking its trailing overlap.
    int overlap_after_handle = -1;
    std::string overlap_after_path;  // for messages
    int overlap_after_left = 0;
    // The latest PMT section start written live, so that a file started by a split can begin with
    // the PMT whose successor it continues.
    Packet last_pmt_written{};
    int last_pmt_written_valid = 0;
};

// The programme a slot carries (stream/tables).
struct SlotProgramme {
    int in_use = 0;
    int service_id = 0;
    int pmt_pid = 0;
    int pcr_pid = 0;  // 0 when the PCR travels on one of the elementary PIDs
    std::array<int, kMaxEsPids> es_pids{};
    int es_count = 0;
    std::array<int, kMaxCaPids> ecm_pids{};
    int video_pid = -1;
    int previous_video_pid = -1;
    int first_audio_pid = -1;
    int previous_audio_pid = -1;  // first AAC PID before the latest PMT version (replay after a PMT split)
    std::array<int, kMaxAudioPids> audio_pids{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    Packet last_pmt_packet{};
};

// Programme and PMT splits (segment/programme_split).
struct SlotSplit {
    int split_number = 0;
    // Whether the overlaps of the slot's latest split are made; a PMT split across a video PID
    // change may turn them off for this slot alone. 1 at the start of each input.
    int overlap_active = 1;
};

// GOP detection and GOP lists (segment/gop_list). Lines collect in 1 MiB buffers, absent when not
// allocated. The previous file's list takes the GOP starts of its trailing overlap.
struct SlotGopList {
    int list_fd = -1;
    std::unique_ptr<char[]> list_buffer;
    std::size_t list_fill = 0;
    int prev_list_fd = -1;
    std::unique_ptr<char[]> prev_list_buffer;
    std::size_t prev_list_fill = 0;
    int prev_packets = 0;  // packets of the previous file, trailing overlap included
    int prev_left = 0;     // overlap packets it still takes
    std::int64_t last_video_pts = -1;   // of the latest video PES start; cut messages show it
    std::int64_t first_video_pts = -1;  // of the current file
    int last_gop_packet = -1;           // packet number of the last GOP start in the current file
    std::int64_t last_gop_pts = -1;
    std::int64_t audio_pts_at_gop = -1;  // latest audio PTS when the last GOP started
    std::int64_t next_gop_pts = -1;      // first GOP start after an audio switch was pending
    int next_gop_pending = 0;            // an audio switch waits for the next GOP start
    // The first GOP of a file that starts with a cut gets broken_link set: pending flag, the
    // video PID watched and up to 940 bytes of its payload searched for the GOP header.
    int broken_link_pending = 0;
    int broken_link_pid = -1;
    std::array<std::uint8_t, 940> broken_link_bytes{};
    int broken_link_fill = 0;
};

// AAC header tracking (segment/audio_track): channel_configuration of the latest valid ADTS
// header, the code GOP lists show, the modes met in this job and the audio clocks.
struct SlotAudio {
    int last_channel_mode = -1;
    int channel_code = -1;
    std::array<int, kAudioModeEntries> modes = [] {  // channel_configuration per audio number, -1 unused
        std::array<int, kAudioModeEntries> unused;
        unused.fill(-1);
        return unused;
    }();
    int number = 0;
    int previous_number = 0;
    std::int64_t current_pts = -1;
    std::int64_t first_pts = -1;  // of the current file
    std::int64_t previous_pts = -1;
    std::int64_t guard_remaining = 0;  // audio time still to pass after a switch, in ticks
    int guard_passed = 1;
};

// Audio-mode splits (segment/audio_split), -SEPA family: the file of each audio number, kept open
// while its mode is away (-1 none), with its path; the latest audio PTS while the next GOP start
// is awaited, whether a split is under way (and its trace lines still due), the running drift sum
// the trace lines show, and the latest PCR, with which a new part file begins.
struct SlotAudioParts {
    std::array<int, kAudioModeEntries> fd = [] {
        std::array<int, kAudioModeEntries> none;
        none.fill(-1);
        return none;
    }();
    std::array<std::string, kAudioModeEntries> path{};
    std::int64_t wait_last_audio_pts = -1;
    int wait_trace_due = 0;
    std::int64_t drift_sum = 0;
    Packet last_pcr_packet{};
};

// The clocks of a slot (segment/timing): time stamps in 90 kHz ticks, -1 = unset.
struct SlotClocks {
    std::int64_t broadcast_time = -1;  // time of day of the first TOT, ticks since midnight
    std::int64_t clock_offset = -1;    // broadcast time - PTS of the first GOP start after it
};

// One output slot: records that each belong to the folder that maintains them.
struct OutputStream {
    SlotFile file;
    SlotProgramme programme;
    SlotSplit split;
    SlotGopList gop;
    SlotAudio audio;
    SlotAudioParts parts;
    SlotClocks clocks;
    SlotStatistics statistics;  // per-PID counts of the slot's files (-LOG, -LOGFILE); stream/stats
};

}  // namespace quill
