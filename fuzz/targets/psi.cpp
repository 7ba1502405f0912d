// The table readers on single packets: each 188-byte piece of the input is one packet (sync byte
// forced) in a buffer of its own, read as a PAT, a CAT, a PMT and an EIT. Whatever the section
// claims, no reader may read past the packet or fill a record past its array.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "state/mpeg.h"
#include "stream/psi.h"

using namespace quill;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto unit = std::make_unique<std::uint8_t[]>(kPacketSize);
    for (std::size_t at = 0; at + kPacketSize <= size; at += kPacketSize) {
        std::memcpy(unit.get(), data + at, kPacketSize);
        unit[0] = kSyncByte;
        PatSection pat;
        if (parse_pat(unit.get(), pat) && (pat.count < 0 || pat.count > kMaxPatEntries)) std::abort();
        CatSection cat;
        if (parse_cat(unit.get(), cat) && (cat.count < 0 || cat.count > kMaxCatCaPids)) std::abort();
        PmtSection pmt;
        if (parse_pmt(unit.get(), pmt)) {
            if (pmt.stream_count > kMaxPmtStreams || pmt.ecm_count > kMaxPmtEcmPids) std::abort();
            for (int i = 0; i < pmt.stream_count; ++i)
                if (pmt.streams[static_cast<std::size_t>(i)].pid < 0 || pmt.streams[static_cast<std::size_t>(i)].pid >= kPidCount)
                    std::abort();
        }
        EitPresentEvent event;
        if (parse_eit_present_event(unit.get(), event) && (event.event_id < 0 || event.event_id > 0xFFFF)) std::abort();
    }
    return 0;
}
