// Programme tables of the current input: PAT rows with what their PMTs list, EMM PIDs from the
// CAT, and the service mode that decides which slots are fed. The table work here reads each
// section out of one packet, the section starting at byte 5 (pointer_field 0, no adaptation
// field); layouts follow ISO/IEC 13818-1 and, for the descriptors of the broadcasts, ARIB STD-B10.
#pragma once
#include <cstdint>

#include "state/tables.h"
#include "state/timing.h"

namespace quill {

struct RunState;

void reset_tables(ProgramTables& tables);

// Records the PCR_PID a PMT named in the -PTS list of the input (0x1FFF, "no PCR", is kept as
// empty): entry = programme-table row, or kPcrPidOneSegEntry + 0/1 for the one-segment PMTs.
void note_pcr_pid(TimingState& timing, int entry, int pcr_pid);

// Index of the first programme-table row whose PMT PID is `pid`, -1 when none.
int find_pmt_row(const ProgramTables& tables, int pid);

// CS mode: a service selected by the -CS list whose PMT has not been seen since the PAT.
bool cs_pmts_pending(const RunState& run);

// PAT on PID 0x0000: rows, CS detection, one-segment entries, the header template of the
// generated PATs.
void pat_table_work(RunState& run, const std::uint8_t* packet, PacketReport& report);
// CAT on PID 0x0001 (only called under -EMM): EMM PIDs of its CA descriptors.
void cat_table_work(ProgramTables& tables, const std::uint8_t* packet);
// PMT of programme-table row `row`: the row's streams, PCR and ECM PIDs; a new version reaches
// the slots that carry the row (report.pmt_changed). `streams` receives what the section listed.
// False when the packet holds no PMT section: nothing else is to be done with it.
bool pmt_table_work(RunState& run, int row, const std::uint8_t* packet, PmtStreams& streams, PacketReport& report);
// The service classification after a PMT of row `row` was taken: the service mode and which
// slots carry which programmes (report.service_mode, .reassigned, .renamed).
void classify_services(RunState& run, int row, const PmtStreams& streams, PacketReport& report);
// PMT on 0x1FC8 (slot 1) or 0x1FC9 (slot 2): the slot's streams (report.clocks_reset and, under
// -SEP2/-SEP3, report.pmt_changed).
void oneseg_pmt_work(RunState& run, int slot, const std::uint8_t* packet, PacketReport& report);

}  // namespace quill
