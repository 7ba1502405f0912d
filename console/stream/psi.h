// Readers of the tables the program acts on, each from one packet with the section at byte 5
// (pointer_field 0, no adaptation field): PAT, CAT and PMT (ISO/IEC 13818-1 2.4.4), the present
// event of an EIT p/f and the time of day of a TOT (ARIB STD-B10). They read the bytes of the packet
// and nothing past them, whatever lengths the section claims, and fill a small record; what the
// program does with it is the table work's (stream/tables).
#pragma once
#include <array>
#include <cstdint>

namespace quill {

// Every entry the packet holds: (188 - 13) / 4.
constexpr int kMaxPatEntries = 44;
constexpr int kMaxCatCaPids = 32;
constexpr int kMaxPmtStreams = 40;
constexpr int kMaxPmtEcmPids = 32;

struct PatSection {
    struct Entry {
        int program_number = 0;  // 0: the network PID
        int pid = 0;
    };
    int transport_stream_id = 0;
    std::array<Entry, kMaxPatEntries> entries{};
    int count = 0;
};
// False when the packet holds no PAT section (table_id).
bool parse_pat(const std::uint8_t* packet, PatSection& pat);

// transport_stream_id 0x6000-0x63FF and 0x7000-0x73FF are CS broadcasts.
bool is_cs_transport_stream(int transport_stream_id);

struct CatSection {
    std::array<int, kMaxCatCaPids> ca_pids{};  // of the CA descriptors, in order
    int count = 0;
};
bool parse_cat(const std::uint8_t* packet, CatSection& cat);

struct PmtSection {
    struct Stream {
        int stream_type = 0;
        int pid = 0;
        // ARIB hierarchical transmission: the low-quality layer of a stream sent twice.
        bool low_quality_layer = false;
    };
    int version = 0;
    int pcr_pid = 0;
    std::array<Stream, kMaxPmtStreams> streams{};
    int stream_count = 0;
    // CA_PIDs of the ECMs, in the order met: the programme loop's first CA descriptor, then every CA
    // descriptor of the streams but the data carousels.
    std::array<int, kMaxPmtEcmPids> ecm_pids{};
    int ecm_count = 0;
};
// False when the packet holds no PMT section (table_id) or one too short for its fixed fields.
bool parse_pmt(const std::uint8_t* packet, PmtSection& pmt);

// The present event of an EIT present/following section 0 (actual or other transport stream):
// false for other sections and for one without any event (nothing on air).
struct EitPresentEvent {
    int service_id = 0;
    int event_id = 0;
};
bool parse_eit_present_event(const std::uint8_t* packet, EitPresentEvent& event);

// Time of day of a TDT/TOT packet (JST_time at bytes 8 to 12: MJD, then hours, minutes and
// seconds in BCD), in 90 kHz ticks since midnight.
std::int64_t tot_time_of_day(const std::uint8_t* packet);

}  // namespace quill
