// The programme tables of the current input (PAT rows with what their PMTs list, EMM PIDs from the
// CAT, the service mode) and the report of what one packet's table work found.
#pragma once
#include <array>
#include <cstdint>

#include "state/mpeg.h"

namespace quill {

enum ServiceMode : int { MODE_UNDECIDED = -1, MODE_SINGLE = 0, MODE_MULTI = 3 };

constexpr int kMaxPrograms = 20;
constexpr int kMaxEsPids = 20;
constexpr int kMaxAudioPids = 10;
constexpr int kMaxCaPids = 20;

struct ProgramEntry {
    int program_number = 0;
    int pmt_pid = 0;
    int pcr_pid = 0;
    std::array<int, kMaxEsPids> es_pids{};
    int es_count = 0;  // 0: no kept stream listed since the PAT named the row
    // A PMT was parsed since the PAT named the row. A parsed PMT that keeps no stream (only data
    // carousels or low-quality layers) must not hold the classification back forever.
    int pmt_parsed = 0;
    std::array<int, kMaxCaPids> ecm_pids{};
    int last_pmt_version = -1;
    int last_event_id = -1;
    // The row's most recent PMT packet of a new version: a slot assigned later starts from its
    // own programme's PMT, not from whichever PMT happened to arrive last.
    std::array<std::uint8_t, kPacketSize> pmt_packet{};
    int has_pmt_packet = 0;
};

struct ProgramTables {
    std::array<ProgramEntry, kMaxPrograms> entries{};
    int count = 0;
    std::array<int, kMaxCaPids> emm_pids{};
    std::array<int, 2> oneseg_pmt_version{-1, -1};
    std::array<std::uint8_t, 13> pat_header_template{};
    int service_mode = MODE_UNDECIDED;  // in multi mode: the slot that received the last PMT packet
};

// What the table work of one packet found, for the job to act on. Slot sets are bit masks.
struct PacketReport {
    int service_mode = MODE_UNDECIDED;  // the service mode after this packet
    int cs_detected = 0;                // a PAT named a CS transport stream outside CS mode
    int oneseg_found = 0;               // this PAT assigned a one-segment slot
    std::uint32_t pmt_changed = 0;      // slots whose PMT took a new version after an earlier one
    std::uint32_t reassigned = 0;       // slots given a programme anew: clocks and audio tracking restart
    std::uint32_t clocks_reset = 0;     // one-segment slots whose PMT restarts their clocks
    std::uint32_t renamed = 0;          // CS slots whose service id changed the name of their file
};

// What one PMT section listed beyond the row's fields.
struct PmtStreams {
    int video_pid = -1;
    int first_audio_pid = -1;
    std::array<int, kMaxAudioPids> audio_pids{-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    int audio_count = 0;
};

}  // namespace quill
