// Unit-size detection, the synchronisation searches and the header readers over arbitrary bytes,
// walked the way the file job walks a read buffer: the searches must never look past `end`, and
// every position they return must leave room for the unit it promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "stream/ts_packet.h"

using namespace quill;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy: a read one byte past the buffer is a finding.
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[size ? size : 1]);
    if (size) std::memcpy(buffer.get(), data, size);
    const std::uint8_t* begin = buffer.get();
    const std::uint8_t* end = begin + size;

    const int unit = select_unit_size(begin, end);
    if (unit != 0 && (unit < kMinUnitSize || unit > kMaxUnitSize)) std::abort();
    // The searches run for every size the reader can meet, not only the one found here.
    for (int u : {unit, 188, 192, 204, 319}) {
        if (u < kMinUnitSize) continue;
        const std::uint8_t* p = begin;
        while (p < end) {
            const std::uint8_t* s = find_sync(p, end, u);
            if (!s) break;
            if (s < p || s + 8 * u > end + u || *s != kSyncByte) std::abort();
            if (s + kPacketSize <= end) {
                TsHeader h = parse_ts_header(s);
                AdaptationField af = parse_adaptation_field(s);
                if (h.pid > 0x1FFF || af.length > 183) std::abort();
            }
            p = s + 1;
        }
        const std::uint8_t* t = find_sync_tail(begin, end, u);
        if (t && (t < begin || t >= end || *t != kSyncByte)) std::abort();
    }
    if (size >= static_cast<std::size_t>(kPacketSize)) crc32_mpeg2(begin, begin + kPacketSize);
    return 0;
}
