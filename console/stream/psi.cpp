#include "stream/psi.h"

#include "state/mpeg.h"
#include "stream/ts_packet.h"

namespace quill {

namespace {

constexpr int kCaDescriptorTag = 0x09;
// ARIB STD-B10 hierarchical_transmission_descriptor: quality_level in bit 0 of its first body
// byte (0 = the low-quality layer), then reference_PID.
constexpr int kHierarchicalDescriptorTag = 0xC0;

// Byte offsets in a packet whose section starts at byte 5.
constexpr int kPatFirstEntry = 13;
constexpr int kCatFirstDescriptor = 13;
constexpr int kPmtPcrPid = 13;
constexpr int kPmtProgramInfoLength = 15;
constexpr int kPmtFirstDescriptor = 17;
// Section 0 of an EIT p/f carries the present event. Its first event_id sits right behind the
// 14-byte section header; an event entry is 12 bytes before its descriptors.
constexpr int kEitFirstEventId = 19;
constexpr int kEitEventHeaderBytes = 12;
constexpr int kCrcBytes = 4;

int pid13(const std::uint8_t* p) { return ((p[0] & 0x1F) << 8) | p[1]; }
int length12(const std::uint8_t* p) { return ((p[0] & 0x0F) << 8) | p[1]; }
int bcd(std::uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }

// Calls `visit(tag, d, length)` for every descriptor wholly inside [begin, end) of the packet.
template <typename Visit>
void for_each_descriptor(const std::uint8_t* packet, int begin, int end, Visit visit) {
    if (end > kPacketSize) end = kPacketSize;
    int pos = begin;
    while (pos + 2 <= end) {
        const int tag = packet[pos];
        const int length = packet[pos + 1];
        if (pos + 2 + length > end) return;
        visit(tag, packet + pos, length);
        pos += 2 + length;
    }
}

// The CA_PID of a CA_descriptor whose tag and length bytes are at `d`.
int ca_pid(const std::uint8_t* d) { return pid13(d + 4); }

template <typename List>
void append(List& list, int& count, typename List::value_type value) {
    if (count < static_cast<int>(list.size())) list[static_cast<std::size_t>(count++)] = value;
}

}  // namespace

bool parse_pat(const std::uint8_t* packet, PatSection& pat) {
    pat = PatSection{};
    if (section_table_id(packet) != kPatTableId) return false;
    pat.transport_stream_id = section_table_id_extension(packet);
    const int end = section_end(packet);
    for (int pos = kPatFirstEntry; pos < end && pos + 4 <= kPacketSize; pos += 4)
        append(pat.entries, pat.count, {(packet[pos] << 8) | packet[pos + 1], pid13(packet + pos + 2)});
    return true;
}

bool is_cs_transport_stream(int transport_stream_id) {
    const int high = transport_stream_id >> 8;
    return ((high >> 4) == 0x6 || (high >> 4) == 0x7) && (high & 0x0F) <= 3;
}

bool parse_cat(const std::uint8_t* packet, CatSection& cat) {
    cat = CatSection{};
    if (section_table_id(packet) != kCatTableId) return false;
    for_each_descriptor(packet, kCatFirstDescriptor, section_end(packet), [&](int tag, const std::uint8_t* d, int length) {
        if (tag == kCaDescriptorTag && length >= 4) append(cat.ca_pids, cat.count, ca_pid(d));
    });
    return true;
}

bool parse_pmt(const std::uint8_t* packet, PmtSection& pmt) {
    pmt = PmtSection{};
    if (section_table_id(packet) != kPmtTableId) return false;
    const int end = section_end(packet);
    if (end < kPmtFirstDescriptor) return false;  // too short to hold the fixed fields
    pmt.version = section_version(packet);
    pmt.pcr_pid = pid13(packet + kPmtPcrPid);
    const int program_info_end = kPmtFirstDescriptor + length12(packet + kPmtProgramInfoLength);

    bool first_ca = true;
    for_each_descriptor(packet, kPmtFirstDescriptor, program_info_end < end ? program_info_end : end,
                        [&](int tag, const std::uint8_t* d, int length) {
                            if (tag != kCaDescriptorTag || length < 4 || !first_ca) return;
                            first_ca = false;
                            append(pmt.ecm_pids, pmt.ecm_count, ca_pid(d));
                        });

    // An entry whose descriptors run past the section still counts; they are read up to its end.
    for (int pos = program_info_end; pos + 5 <= end; pos += 5 + length12(packet + pos + 3)) {
        PmtSection::Stream stream;
        stream.stream_type = packet[pos];
        stream.pid = pid13(packet + pos + 1);
        if (stream.stream_type != kStreamTypeDataCarousel) {
            const int info_end = pos + 5 + length12(packet + pos + 3);
            for_each_descriptor(packet, pos + 5, info_end < end ? info_end : end, [&](int tag, const std::uint8_t* d, int length) {
                if (tag == kHierarchicalDescriptorTag && length >= 3) {
                    if ((d[2] & 0x01) == 0 && pid13(d + 3) != kNullPid) stream.low_quality_layer = true;
                } else if (tag == kCaDescriptorTag && length >= 4) {
                    append(pmt.ecm_pids, pmt.ecm_count, ca_pid(d));
                }
            });
        }
        append(pmt.streams, pmt.stream_count, stream);
    }
    return true;
}

bool parse_eit_present_event(const std::uint8_t* p, EitPresentEvent& event) {
    const int table_id = section_table_id(p);
    if (table_id != kEitPfActualTableId && table_id != kEitPfOtherTableId) return false;
    if (!section_starts_at_five(p) || section_number(p) != 0) return false;
    const int section_end_byte = 8 + section_length(p);
    if (section_end_byte < kEitFirstEventId + kEitEventHeaderBytes + kCrcBytes || section_end_byte > kPacketSize)
        return false;
    event.service_id = section_table_id_extension(p);
    event.event_id = (p[kEitFirstEventId] << 8) | p[kEitFirstEventId + 1];
    return true;
}

std::int64_t tot_time_of_day(const std::uint8_t* p) {
    const std::int64_t hours = bcd(p[10]);
    const std::int64_t minutes = bcd(p[11]);
    const std::int64_t seconds = bcd(p[12]);
    return ((hours * 60 + minutes) * 60 + seconds) * 90000;
}

}  // namespace quill
