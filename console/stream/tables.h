// Programme tables of the current input: PAT rows with what their PMTs list, EMM PIDs from the
// CAT, and the service mode that decides which slots are fed. The table work here reads each
// section out of one packet, the section starting at byte 5 (pointer_field 0, no adaptation
// field); layouts follow ISO/IEC 13818-1 and, for the descriptors of the broadcasts, ARIB STD-B10.
#pragma once
#include <array>
#include <cstdint>

namespace quill {

struct RunState;

enum ServiceMode : int { MODE_UNDECIDED = -1, MODE_SINGLE = 0, MODE_MULTI = 3 };

constexpr int kPatPid = 0x0000;
constexpr int kCatPid = 0x0001;
constexpr int kNitPid = 0x0010;
constexpr int kSdtPid = 0x0011;
constexpr int kEitPid = 0x0012;
constexpr int kTotPid = 0x0014;
constexpr int kOneSegPmtPid = 0x1FC8;
constexpr int kOneSeg2PmtPid = 0x1FC9;

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
    std::array<std::uint8_t, 188> pmt_packet{};
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

// What one packet told the job driver.
struct PacketReport {
    int service_mode = -1;      // the service mode after this packet
    int oneseg_found = 0;       // this PAT assigned a one-segment slot
    int assignment_notice = 0;  // 1: a PAT was processed; 3: slots were (re)assigned
    int multi_path = 0;         // the packet reached the SD/CS routing
};

void reset_tables(ProgramTables& tables);

// Index of the first programme-table row whose PMT PID is `pid`, -1 when none.
int find_pmt_row(const ProgramTables& tables, int pid);

// CS mode: a service selected by the -CS list whose PMT has not been seen since the PAT.
bool cs_pmts_pending(const RunState& run);

// PAT on PID 0x0000: rows, CS detection, one-segment entries, the header template of the
// generated PATs.
void pat_table_work(RunState& run, const std::uint8_t* packet, PacketReport& report);
// CAT on PID 0x0001 (only called under -EMM): EMM PIDs of its CA descriptors.
void cat_table_work(ProgramTables& tables, const std::uint8_t* packet);
// PMT of programme-table row `row`, followed by the service classification. -1 when a split
// that the PMT change caused failed to write, else 0.
long long pmt_table_work(RunState& run, int row, const std::uint8_t* packet, PacketReport& report);
// PMT on 0x1FC8 (slot 1) or 0x1FC9 (slot 2). -1 when a split failed to write, else 0.
long long oneseg_pmt_work(RunState& run, int slot, const std::uint8_t* packet);

}  // namespace quill
