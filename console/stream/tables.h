// Programme tables of the current input: PAT rows with what their PMTs list, EMM PIDs from the
// CAT, and the service mode that decides which slots are fed.
#pragma once
#include <array>
#include <cstdint>

namespace quill {

enum ServiceMode : int { MODE_UNDECIDED = -1, MODE_SINGLE = 0, MODE_MULTI = 3 };

struct ProgramEntry {
    int program_number = 0;
    int pmt_pid = 0;
    int pcr_pid = 0;
    std::array<int, 20> es_pids{};
    int es_count = 0;  // 0: the PMT has not been seen since the PAT named the row
    std::array<int, 20> ecm_pids{};
    int last_pmt_version = -1;
    int last_event_id = -1;
};

struct ProgramTables {
    std::array<ProgramEntry, 20> entries{};
    int count = 0;
    std::array<int, 20> emm_pids{};
    std::array<int, 2> oneseg_pmt_version{-1, -1};
    std::array<std::uint8_t, 13> pat_header_template{};
    int service_mode = MODE_UNDECIDED;  // in multi mode: the slot that received the last PMT packet
};

void reset_tables(ProgramTables& tables);

}  // namespace quill
