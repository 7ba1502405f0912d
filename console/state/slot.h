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

namespace quill {

constexpr int kSlotCount = 20;
constexpr int kSlotHd = 0;
constexpr int kSlotOneSeg = 1;
constexpr int kSlotOneSeg2 = 2;
constexpr int kFirstMultiSlot = 3;

// Entries of an output's table of AAC channel modes met in one input.
constexpr int kAudioModeEntries = 50;

using Packet = std::array<std::uint8_t, kPacketSize>;

// The last packets written live, for the overlap kept before a split. Each entry's copy is
// allocated on first use and reused afterwards, so pushing allocates nothing once the ring is full.
struct PacketRing {
    std::vector<std::unique_ptr<Packet>> items;
    int head = 0;
    int tail = 0;
    int count = 0;
    int capacity = 0;
};

struct OutputStream {
    int fd = -1;
    std::string path;
    std::string suffix;
    int in_use = 0;
    int enabled = 0;

    // The programme assigned to the slot.
    int service_id = 0;
    int pmt_pid = 0;
    int pcr_pid = 0;  // 0 when the PCR travels on one of the elementary PIDs
    std::array<int, 20> es_pids{};
    int es_count = 0;
    std::array<int, 20> ecm_pids{};
    int video_pid = -1;
    int previous_video_pid = -1;
    int first_audio_pid = -1;
    int previous_audio_pid = -1;  // first AAC PID before the latest PMT version (replay after a PMT split)
    std::array<int, 10> audio_pids{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    Packet last_pmt_packet{};
    Packet last_pcr_packet{};  // a file started by an audio split begins with it

    int scrambled_count = 0;

    // -BUFF buffer; capacity is 64-bit so that large sizes cannot wrap.
    LargeBuffer write_buffer;
    std::size_t buffer_capacity = 0;
    std::size_t buffer_fill = 0;

    int split_number = 0;
    PacketRing overlap_ring;
    int overlap_after_handle = -1;
    std::string overlap_after_path;  // the file behind overlap_after_handle, for messages
    int overlap_after_left = 0;
    // Whether the overlaps of the slot's latest split are made; a PMT split across a video PID
    // change may turn them off for this slot alone. 1 at the start of each input.
    int overlap_active = 1;
    // The latest PMT section start written live, so that a file started by a split can begin with
    // the PMT whose successor it continues.
    Packet last_pmt_written{};
    int last_pmt_written_valid = 0;

    int gop_list_fd = -1;
    int prev_gop_list_fd = -1;
    int packets_written = 0;
    int prev_gop_packets = 0;
    int prev_gop_left = 0;

    // Per-PID counts of the slot's files (-LOG, -LOGFILE); empty otherwise.
    SlotStatistics statistics;

    // Clocks (segment/timing): time stamps in 90 kHz ticks, -1 = unset.
    std::int64_t broadcast_time = -1;  // time of day of the first TOT, ticks since midnight
    std::int64_t clock_offset = -1;    // broadcast time - PTS of the first GOP start after it

    // GOP lists (segment/gop_list). Lines collect in 1 MiB buffers, absent when not allocated.
    std::unique_ptr<char[]> gop_list_buffer;
    std::size_t gop_list_fill = 0;
    std::unique_ptr<char[]> prev_gop_list_buffer;
    std::size_t prev_gop_list_fill = 0;
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

    // AAC header tracking (segment/audio_track): channel_configuration of the latest valid
    // ADTS header, the code GOP lists show, the modes met in this job and audio clocks.
    int last_channel_mode = -1;
    int audio_channel_code = -1;
    std::array<int, kAudioModeEntries> audio_modes = [] {  // channel_configuration per audio number, -1 unused
        std::array<int, kAudioModeEntries> unused;
        unused.fill(-1);
        return unused;
    }();
    int audio_number = 0;
    int previous_audio_number = 0;
    std::int64_t current_audio_pts = -1;
    std::int64_t first_audio_pts = -1;  // of the current file
    std::int64_t previous_audio_pts = -1;
    std::int64_t guard_remaining = 0;   // audio time still to pass after a switch, in ticks
    int guard_passed = 1;

    // Audio-mode splits (segment/audio_split), -SEPA family: the file of each audio number, kept
    // open while its mode is away (-1 none), with its path; the latest audio PTS while the next GOP
    // start is awaited, whether a split is under way (and its trace lines still due), and the
    // running drift sum the trace lines show.
    std::array<int, kAudioModeEntries> audio_part_fd = [] {
        std::array<int, kAudioModeEntries> none;
        none.fill(-1);
        return none;
    }();
    std::array<std::string, kAudioModeEntries> audio_part_path{};
    std::int64_t wait_last_audio_pts = -1;
    int wait_trace_due = 0;
    std::int64_t drift_sum = 0;
};

}  // namespace quill
