// Stream synthesizer for tests and benchmarks: builds ISDB-like MPEG-2 transport
// streams in code (ISO/IEC 13818-1 packets and PSI, ARIB STD-B10 SI tables,
// MPEG-2 video elementary headers, ISO/IEC 13818-7 ADTS audio).
//
// It shares no code with the program under test: CRC, packet and section
// building are derived here on their own, so a fault on one side is not
// mirrored on the other.
//
// Every PSI section is written the way the program reads it: pointer_field 0 at
// byte 4, section from byte 5, no adaptation field, one section per packet
// (longer sections continue in further packets of the same PID).
//
// Example: a one-service stream, then its packets listed by PID and index.
//
//   synth::Mux mux;
//   synth::Service hd{.service_id = 0x0400, .pmt_pid = 0x01F0, .pcr_pid = 0x01FF,
//                     .streams = {{0x02, 0x0111}, {0x0F, 0x0112}}};
//   mux.pat(0x7FE8, {{0x0400, 0x01F0}});
//   mux.pmt(hd);
//   mux.pcr(0x01FF, 0);
//   mux.pes_video(0x0111, {.type = synth::Picture::I, .pts = 90000, .dts = 87000});
//   mux.pes_audio(0x0112, {.pts = 90000, .channel_configuration = 2});
//   mux.null(3);
//   for (size_t i = 0; i < mux.packets.size(); ++i)
//       printf("%zu %04x\n", i, synth::pid_of(mux.packets[i]));
//   synth::Bytes file = synth::to_units(mux.packets, synth::Unit::u192);
//
// Whole multiplexes come from the scenario functions at the end (hd(), sd3(),
// hd_to_sd(), bs(), cs(), ...), which take a small config and either return the
// packets or stream them to a file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace synth {

using Bytes = std::vector<uint8_t>;
constexpr size_t kPacketSize = 188;
using Packet = std::array<uint8_t, kPacketSize>;

constexpr uint16_t kPidPat = 0x0000;
constexpr uint16_t kPidCat = 0x0001;
constexpr uint16_t kPidNit = 0x0010;
constexpr uint16_t kPidSdt = 0x0011;
constexpr uint16_t kPidEit = 0x0012;
constexpr uint16_t kPidTot = 0x0014;
constexpr uint16_t kPidOneSeg1 = 0x1FC8;
constexpr uint16_t kPidOneSeg2 = 0x1FC9;
constexpr uint16_t kPidNull = 0x1FFF;

constexpr uint8_t kStreamMpeg2Video = 0x02;
constexpr uint8_t kStreamAvc = 0x1B;
constexpr uint8_t kStreamAdtsAac = 0x0F;
constexpr uint8_t kStreamDataCarousel = 0x0D;
constexpr uint8_t kStreamPrivateSections = 0x05;
constexpr uint8_t kStreamCaption = 0x06;

// ---------------------------------------------------------------------------
// Checksums and field access on built packets (for tests reading back)

// CRC-32 of ISO/IEC 13818-1 Annex A: poly 0x04C11DB7, MSB first, init all ones,
// no final inversion.
uint32_t crc32_mpeg2(const uint8_t* data, size_t size);
inline uint32_t crc32_mpeg2(const Bytes& b) { return crc32_mpeg2(b.data(), b.size()); }

inline uint16_t pid_of(const Packet& p) { return uint16_t(((p[1] & 0x1F) << 8) | p[2]); }
inline bool pusi_of(const Packet& p) { return (p[1] & 0x40) != 0; }
inline bool tei_of(const Packet& p) { return (p[1] & 0x80) != 0; }
inline uint8_t scrambling_of(const Packet& p) { return uint8_t(p[3] >> 6); }
inline uint8_t afc_of(const Packet& p) { return uint8_t((p[3] >> 4) & 3); }
inline uint8_t cc_of(const Packet& p) { return uint8_t(p[3] & 0x0F); }
// Offset of the payload (4, or past the adaptation field); 188 when none.
size_t payload_offset(const Packet& p);
// Indices of the packets of a PID, and of those that start a unit (PES or section).
std::vector<size_t> indices_of(const std::vector<Packet>& packets, uint16_t pid);
std::vector<size_t> unit_starts(const std::vector<Packet>& packets, uint16_t pid);
// PCR base of the adaptation field, when the packet carries one.
std::optional<uint64_t> pcr_base_of(const Packet& p);
// PTS of a PES starting in this packet (payload_unit_start, 00 00 01 E0..EF/C0..CF).
std::optional<uint64_t> pes_pts_of(const Packet& p);

// A long-form PSI section read back from byte 5 of a packet (the program's
// single-packet convention). Empty when the packet does not hold one.
struct SectionView {
    uint8_t table_id = 0;
    uint16_t section_length = 0;
    uint16_t table_id_extension = 0;  // transport_stream_id, program_number, service_id ...
    uint8_t version = 0;
    bool current_next = false;
    uint8_t section_number = 0;
    uint8_t last_section_number = 0;
    Bytes body = {};     // from byte 13 to the first CRC byte
    bool crc_ok = false;
};
std::optional<SectionView> read_section(const Packet& p);

// ---------------------------------------------------------------------------
// Dates and times (ARIB STD-B10: MJD + BCD)

struct JstTime {
    int year = 2024, month = 4, day = 1;
    int hour = 20, minute = 0, second = 0;
};
uint16_t mjd(int year, int month, int day);
// 5 bytes: MJD (16 bits) then hh mm ss in BCD.
std::array<uint8_t, 5> mjd_bcd(const JstTime& t);
JstTime add_seconds(JstTime t, int64_t seconds);

// ---------------------------------------------------------------------------
// Descriptors

Bytes descriptor(uint8_t tag, const Bytes& body);
// CA_descriptor 0x09: CA_system_id, CA_PID (ECM in a PMT, EMM in the CAT).
Bytes ca_descriptor(uint16_t ca_pid, uint16_t ca_system_id = 0x0005, const Bytes& private_data = {});
// Hierarchical transmission descriptor 0xC0 (ARIB STD-B10): quality_level 1 is
// the high-quality layer, 0 the low one; reference_PID names the other layer.
Bytes hierarchical_descriptor(bool high_quality, uint16_t reference_pid);
Bytes service_descriptor(uint8_t service_type, const std::string& provider, const std::string& name);
Bytes short_event_descriptor(const std::string& name, const std::string& text);
Bytes stream_identifier_descriptor(uint8_t component_tag);

// ---------------------------------------------------------------------------
// Sections (complete, CRC appended)

// Long-form section: header, body, CRC_32.
Bytes long_section(uint8_t table_id, uint16_t table_id_extension, uint8_t version,
                   uint8_t section_number, uint8_t last_section_number, const Bytes& body,
                   bool private_indicator = false);

struct PatEntry {
    uint16_t program_number;
    uint16_t pid;  // PMT PID, or network PID for program_number 0
};
Bytes pat_section(uint16_t transport_stream_id, const std::vector<PatEntry>& entries, uint8_t version = 0);

struct Stream {  // one entry of a PMT's elementary stream loop
    uint8_t stream_type;
    uint16_t pid;
    Bytes descriptors = {};
};

struct Service {
    uint16_t service_id = 0;
    uint16_t pmt_pid = 0;
    uint16_t pcr_pid = 0x1FFF;
    uint8_t version = 0;
    Bytes program_descriptors = {};  // e.g. ca_descriptor(ecm_pid)
    std::vector<Stream> streams = {};
    uint8_t service_type = 0x01;     // SDT: 0x01 digital TV, 0xC0 data
    std::string name = "service";
    uint16_t event_id = 1;           // present event announced by the EIT p/f
};
Bytes pmt_section(const Service& s);

Bytes cat_section(const std::vector<uint16_t>& emm_pids, uint8_t version = 0, uint16_t ca_system_id = 0x0005);

struct NetworkInfo {
    uint16_t transport_stream_id = 0x7FE8;
    uint16_t original_network_id = 0x7FE8;
    uint16_t network_id = 0x7FE8;
    std::string network_name = "synth";
};
Bytes nit_section(const NetworkInfo& n, const std::vector<Service>& services, uint8_t version = 0);
Bytes sdt_section(const NetworkInfo& n, const std::vector<Service>& services, uint8_t version = 0);

struct EitPf {
    bool actual = true;           // table_id 0x4E (actual) or 0x4F (other)
    uint16_t service_id = 0;
    uint16_t transport_stream_id = 0;
    uint16_t original_network_id = 0;
    uint8_t version = 0;
    uint8_t section_number = 0;   // 0 present, 1 following
    uint16_t event_id = 1;
    JstTime start = {};
    uint32_t duration_seconds = 3600;
    std::string name = "programme";
};
Bytes eit_pf_section(const EitPf& e);

// TOT (0x73, with an empty descriptor loop and CRC) or TDT (0x70, short form).
Bytes tot_section(const JstTime& t, bool tdt = false);

// ---------------------------------------------------------------------------
// Elementary stream payloads

enum class Picture : uint8_t { I = 1, P = 2, B = 3 };

struct VideoFrame {
    Picture type = Picture::I;
    std::optional<uint64_t> pts = {};  // 90 kHz, 33 bits
    std::optional<uint64_t> dts = {};  // written only together with pts
    bool sequence_header = true;    // I frames: sequence header + GOP header first
    bool closed_gop = false;
    bool broken_link = false;
    uint16_t temporal_reference = 0;
    size_t size = 2000;             // total elementary bytes of the frame (at least the headers)
    uint16_t width = 1440, height = 1080;
};
// MPEG-2 video access unit: [sequence header, sequence extension, GOP header,]
// picture header, picture coding extension, slices filled with bytes that never
// form a start code.
Bytes video_es(const VideoFrame& f);

struct AudioFrame {
    std::optional<uint64_t> pts = {};
    uint8_t channel_configuration = 2;   // 1 mono, 2 stereo, 0 dual mono (with a PCE)
    uint8_t sampling_frequency_index = 3; // 3 = 48 kHz
    uint8_t profile = 1;                  // 1 = AAC LC
    bool mpeg2_id = true;                 // ID bit 1: MPEG-2
    bool protection_absent = false;       // broadcasts carry the CRC: syncword bytes FF F8
    uint16_t buffer_fullness = 0x100;     // 0x7FF means VBR; keep it within PES_packet_length
    size_t size = 576;                    // aac_frame_length
};
// One ADTS frame (ISO/IEC 13818-7): 7-byte header, CRC word when protection is
// on, then raw data: a PCE (two SCEs) for dual mono, else a CPE/SCE tag and filler.
Bytes adts_frame(const AudioFrame& a);
// Dual mono as broadcasts signal it: channel_configuration 0 with a PCE.
inline AudioFrame dual_mono(AudioFrame a) { a.channel_configuration = 0; return a; }

// PES packet (ISO/IEC 13818-1 2.4.3.6): header with optional PTS/DTS.
// length_field 0 writes PES_packet_length 0 (allowed for video in TS).
Bytes pes_packet(uint8_t stream_id, const Bytes& es, std::optional<uint64_t> pts,
                 std::optional<uint64_t> dts, bool zero_length = false);

// ---------------------------------------------------------------------------
// Packets and the Mux

struct Adaptation {
    std::optional<uint64_t> pcr_base = {};  // 33 bits, 90 kHz
    uint16_t pcr_extension = 0;        // 9 bits, 27 MHz remainder
    bool discontinuity = false;
    bool random_access = false;
    size_t stuffing = 0;               // extra 0xFF bytes at the end of the field
};

struct PacketSpec {
    uint16_t pid = kPidNull;
    bool payload_unit_start = false;
    bool transport_error = false;
    bool priority = false;
    uint8_t scrambling = 0;             // transport_scrambling_control (2 = even, 3 = odd key)
    std::optional<Adaptation> adaptation = {};
    Bytes payload = {};                 // at most what fits; shorter payloads are padded
    bool pad_with_adaptation = true;    // true: grow the adaptation field; false: fill 0xFF after payload
};

// Receives each finished packet (streaming to a file instead of keeping them).
using PacketSink = std::function<void(const Packet&)>;

class Mux {
public:
    Mux() = default;
    explicit Mux(PacketSink sink) : sink_(std::move(sink)) {}

    // Packets built so far, when no sink is set. Index = position in the stream.
    std::vector<Packet> packets;
    // Number of packets emitted so far (also with a sink).
    uint64_t count() const { return emitted_; }

    // Flags applied to every following packet until cleared.
    bool scramble_next = false;   // transport_scrambling_control 2 on payload packets of non-PSI PIDs
    bool error_next = false;      // transport_error_indicator

    // Raw packet; the continuity counter is taken from the Mux (it advances only
    // for packets that carry a payload, as ISO/IEC 13818-1 says).
    size_t packet(const PacketSpec& want);
    // Next continuity counter of a PID without using it.
    uint8_t next_cc(uint16_t pid) const { return cc_[pid & 0x1FFF]; }

    // Continuity faults for statistics tests.
    void skip_cc(uint16_t pid, uint8_t by = 1) { cc_[pid & 0x1FFF] = uint8_t((cc_[pid & 0x1FFF] + by) & 0x0F); }
    // Repeats the last packet of a PID byte for byte (a legal duplicate once).
    size_t duplicate_last(uint16_t pid);

    // A section from byte 5 of a packet; longer ones continue in further packets.
    // Returns the index of the first packet.
    size_t section(uint16_t pid, const Bytes& section);
    size_t pat(uint16_t transport_stream_id, const std::vector<PatEntry>& entries, uint8_t version = 0);
    size_t pmt(const Service& s) { return section(s.pmt_pid, pmt_section(s)); }
    size_t cat(const std::vector<uint16_t>& emm_pids, uint8_t version = 0) { return section(kPidCat, cat_section(emm_pids, version)); }
    size_t eit(const EitPf& e) { return section(kPidEit, eit_pf_section(e)); }
    size_t tot(const JstTime& t, bool tdt = false) { return section(kPidTot, tot_section(t, tdt)); }

    // PES over consecutive packets of one PID: the first carries
    // payload_unit_start (and the adaptation field, if given), the last is
    // stuffed through its adaptation field. Returns the index of the first.
    size_t pes(uint16_t pid, const Bytes& pes, const std::optional<Adaptation>& first = std::nullopt);
    // One packet of a PES from offset (offset 0 = the unit start, which carries
    // first_af); offset advances past what was sent. For interleaving by hand.
    size_t pes_step(uint16_t pid, const Bytes& pes, size_t& offset, const Adaptation* first_af = nullptr);
    size_t pes_video(uint16_t pid, const VideoFrame& f, std::optional<uint64_t> pcr_base = std::nullopt);
    size_t pes_audio(uint16_t pid, const AudioFrame& a);
    // Adaptation-only packet (length 183, flags 0x10) carrying a PCR.
    size_t pcr(uint16_t pid, uint64_t base, uint16_t extension = 0, bool discontinuity = false);
    // Null packets (PID 0x1FFF, payload 0xFF). Returns the index of the first.
    size_t null(size_t n = 1);
    // An opaque payload packet (ECM, EMM, data carousel ...): fill byte repeated.
    size_t filler(uint16_t pid, uint8_t fill = 0x00, bool unit_start = true);

private:
    size_t emit(const Packet& p);
    PacketSink sink_;
    uint64_t emitted_ = 0;
    std::array<uint8_t, 8192> cc_{};
    std::vector<std::pair<uint16_t, Packet>> last_;  // last packet per PID (for duplicate_last)
};

// ---------------------------------------------------------------------------
// Units and files

enum class Unit { u188 = 188, u192 = 192, u204 = 204 };
// Garbage without any 0x47, plain random bytes, or random bytes with extra
// stray 0x47 bytes at irregular spacing.
enum class Sync { Avoid, Allow, Stray };

// 192: a 4-byte prefix (a running 30-bit arrival time code) before each packet;
//      its first byte is never 0x47, its other bytes may be, as in recordings.
// 204: 16 trailing bytes (zero parity placeholder) after each packet.
Bytes to_units(const std::vector<Packet>& packets, Unit unit = Unit::u188);
void append_unit(Bytes& out, const Packet& p, Unit unit, uint64_t index);

// Writes packets to a file as units, in chunks; optionally inserts garbage
// stretches at byte offsets of the output as it goes. Memory use is one chunk.
class FileWriter {
public:
    FileWriter(const std::string& path, Unit unit, size_t chunk_bytes = 1 << 20);
    ~FileWriter();
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;
    bool ok() const { return file_ != nullptr && !failed_; }
    void put(const Packet& p);
    // Inserts len garbage bytes when the output reaches offset (call before writing past it).
    void insert_garbage_at(uint64_t offset, size_t len, uint64_t seed, Sync sync = Sync::Avoid);
    uint64_t bytes_written() const { return written_ + buf_.size(); }
    size_t buffer_capacity() const { return buf_.capacity(); }
    bool close();

private:
    struct Pending { uint64_t offset; size_t len; uint64_t seed; Sync sync; };
    void push(const uint8_t* data, size_t n);
    void emit_garbage(const Pending& g);
    void flush();
    std::FILE* file_ = nullptr;
    Unit unit_;
    size_t chunk_;
    Bytes buf_;
    uint64_t written_ = 0;
    uint64_t units_ = 0;
    bool failed_ = false;
    std::vector<Pending> garbage_;
};

// ---------------------------------------------------------------------------
// Damage on purpose

Bytes garbage(size_t len, uint64_t seed, Sync sync = Sync::Avoid);
// Inserts a garbage stretch before byte offset (packets after it stay intact).
void insert_garbage(Bytes& stream, size_t offset, size_t len, uint64_t seed, Sync sync = Sync::Avoid);
// Overwrites bytes [offset, offset + len) with garbage (packets there are lost).
void overwrite_garbage(Bytes& stream, size_t offset, size_t len, uint64_t seed, Sync sync = Sync::Avoid);
void truncate(Bytes& stream, size_t size);
void flip_bit(Bytes& stream, size_t byte, unsigned bit);

// Small deterministic generator (splitmix64) used for garbage and sizes.
struct Rng {
    uint64_t state;
    explicit Rng(uint64_t seed) : state(seed) {}
    uint64_t next();
    uint32_t below(uint32_t n) { return uint32_t(next() % n); }
};

// ---------------------------------------------------------------------------
// Multiplexes on a timeline

struct VideoSource {
    uint16_t pid = 0x0111;
    uint8_t stream_id = 0xE0;
    double mbps = 13.0;            // average video rate
    int gop = 15;                  // frames per GOP, I B B P B B ...
    bool closed_gop = false;
    bool pcr_in_video = false;     // PCR in the first packet of each PES (instead of a PCR PID)
    uint16_t width = 1440, height = 1080;
};

struct AudioSource {
    uint16_t pid = 0x0112;
    uint8_t stream_id = 0xC0;
    int kbps = 256;
    uint8_t channel_configuration = 2;
    // From the given frame index on, the channel_configuration changes (sorted).
    std::vector<std::pair<uint64_t, uint8_t>> mode_changes = {};
};

struct TimedChange;  // below

struct Multiplex {
    NetworkInfo network = {};
    bool network_entry = true;          // PAT entry program_number 0 -> NIT PID
    std::vector<Service> services;      // in PAT order; one-segment services included
    std::vector<VideoSource> videos;
    std::vector<AudioSource> audios;
    std::vector<uint16_t> pcr_pids;     // PCR on their own PIDs (adaptation-only packets)
    std::vector<uint16_t> ecm_pids;
    std::vector<uint16_t> emm_pids;     // listed in the CAT
    std::vector<uint16_t> data_pids;    // data carousels and other opaque PIDs
    double mux_mbps = 16.85;            // total rate; what sources leave is null packets
    // Repetition intervals in milliseconds (0 = never).
    int pat_ms = 100, pmt_ms = 100, pcr_ms = 40, cat_ms = 1000, nit_ms = 2000, sdt_ms = 2000,
        eit_ms = 2000, tot_ms = 5000, ecm_ms = 100, emm_ms = 1000, data_ms = 50;
    JstTime start_time = {};
    uint64_t first_pcr = 900000;        // 10 s of 90 kHz ticks
    bool scrambled = false;             // transport_scrambling_control 2 on video/audio
    uint64_t seed = 1;                  // varies frame sizes
};

// A change of the multiplex at a packet index (inclusive). The generator
// applies it before building that packet and repeats PAT, PMTs and the EIT at
// once, so the new tables take effect right there.
struct TimedChange {
    uint64_t at_packet;
    std::function<void(Multiplex&)> apply;
};

// Builds a multiplex packet by packet into a Mux, with plausible rates.
class Generator {
public:
    Generator(Multiplex m, Mux& mux, std::vector<TimedChange> changes = {});
    ~Generator();
    void step();                           // one packet (a section longer than 183 bytes: several)
    void run(uint64_t packets) { for (uint64_t i = 0; i < packets; ++i) step(); }
    const Multiplex& multiplex() const { return m_; }
    double packets_per_second() const;

private:
    struct State;
    Multiplex m_;
    Mux& mux_;
    std::vector<TimedChange> changes_;
    std::unique_ptr<State> st_;
};

// ---------------------------------------------------------------------------
// Scenarios

struct Config {
    uint64_t packets = 0;      // length in packets; 0 = use seconds
    double seconds = 2.0;
    uint64_t seed = 1;
};

// Terrestrial HD: services 0x0400/0x0401/0x0402 (PMT 0x01F0..0x01F2) sharing
// video 0x0111 and audio 0x0112, PCR on 0x01FF, ECM 0x0901, a data carousel
// 0x0140 (0x0D) in each PMT, a one-segment service 0x0598 on PMT 0x1FC8 (video
// 0x0181, audio 0x0183, PCR 0x0181), NIT/SDT/EIT/TOT/CAT, EMM 0x0902, null
// packets. transport_stream_id 0x7FE8.
Multiplex hd_multiplex();
// Three SD services 0x0400..0x0402 (PMT 0x01F0..0x01F2): video 0x0111, 0x0121,
// 0x0131; audio 0x0112 shared by SD1 and SD2, 0x0132 for SD3; PCR 0x01FF shared
// by SD1 and SD2, 0x02FF for SD3; plus the one-segment service.
Multiplex sd3_multiplex();
// BS: transport_stream_id 0x4010, services 101 and 102 (PMT 0x0101, 0x0102)
// sharing their streams.
Multiplex bs_multiplex();
// CS: transport_stream_id 0x7040, services 211, 212, 213 (PMT 0x01F0..), each
// its own streams.
Multiplex cs_multiplex();
// HD plus a hierarchical low-quality video layer 0x0115 (0xC0 quality 0,
// reference 0x0111) in the HD PMTs.
Multiplex hierarchical_multiplex();

// A one-segment service (PMT 0x1FC8 or 0x1FC9, H.264 video, AAC audio, PCR
// shared with the main service on 0x01FF), and adding one with its sources.
Service oneseg_service(uint16_t service_id = 0x0598, uint16_t pmt_pid = kPidOneSeg1, uint16_t video_pid = 0x0181,
                       uint16_t audio_pid = 0x0183);
void add_oneseg(Multiplex& m, const Service& s);

uint64_t packet_count(const Multiplex& m, const Config& c);

std::vector<Packet> generate(const Multiplex& m, const Config& c, std::vector<TimedChange> changes = {});
bool write_file(const std::string& path, const Multiplex& m, const Config& c, Unit unit = Unit::u188,
                std::vector<TimedChange> changes = {},
                const std::vector<std::pair<uint64_t, size_t>>& garbage_at = {});

std::vector<Packet> hd(const Config& c = {});
std::vector<Packet> sd3(const Config& c = {});
std::vector<Packet> bs(const Config& c = {});
std::vector<Packet> cs(const Config& c = {});
std::vector<Packet> hierarchical(const Config& c = {});
// HD until switch_packet, then the three SD services with new PMT versions.
std::vector<TimedChange> hd_to_sd_changes(uint64_t switch_packet);
std::vector<Packet> hd_to_sd(uint64_t switch_packet, const Config& c = {});
// Present event of a service changes to new_event_id at a packet (EIT sent there).
TimedChange event_change(uint64_t at_packet, uint16_t service_id, uint16_t new_event_id);
// PMT of a service gets a new version at a packet (optionally with another video PID).
TimedChange pmt_version_change(uint64_t at_packet, uint16_t service_id, std::optional<uint16_t> new_video_pid = {});
// Audio of a PID switches channel_configuration from an audio frame index on.
void audio_mode_change(Multiplex& m, uint16_t audio_pid, uint64_t from_frame, uint8_t channel_configuration);
// A plain stream: PAT, one service, mostly null packets (null_share 0..1).
Multiplex null_multiplex(double null_share = 0.8);

}  // namespace synth
