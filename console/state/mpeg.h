// Constants of the MPEG-2 transport stream (ISO/IEC 13818-1) and of the broadcasts' tables
// (ARIB STD-B10) that the program reads or writes.
#pragma once
#include <cstdint>

namespace quill {

constexpr int kPacketSize = 188;
constexpr int kMinUnitSize = 188;  // a plain packet ...
constexpr int kMaxUnitSize = 319;  // ... up to packets with a prefix or parity bytes
constexpr std::uint8_t kSyncByte = 0x47;
constexpr int kPidCount = 8192;    // PIDs are 13 bits

// PIDs with a fixed meaning.
constexpr int kPatPid = 0x0000;
constexpr int kCatPid = 0x0001;
constexpr int kNitPid = 0x0010;
constexpr int kSdtPid = 0x0011;
constexpr int kEitPid = 0x0012;
constexpr int kTotPid = 0x0014;
constexpr int kOneSegPmtPid = 0x1FC8;   // ISDB-T one-segment services sit on fixed PMT PIDs
constexpr int kOneSeg2PmtPid = 0x1FC9;
constexpr int kNullPid = 0x1FFF;        // also "no PCR" in a PMT

// table_id values.
constexpr int kPatTableId = 0x00;
constexpr int kCatTableId = 0x01;
constexpr int kPmtTableId = 0x02;
constexpr int kEitPfActualTableId = 0x4E;  // present/following of this transport stream
constexpr int kEitPfOtherTableId = 0x4F;   // ... and of another one

// stream_type values of PMT entries.
constexpr int kStreamTypeMpeg1Video = 0x01;
constexpr int kStreamTypeMpeg2Video = 0x02;
constexpr int kStreamTypeAdtsAac = 0x0F;
constexpr int kStreamTypeMpeg4Video = 0x10;
constexpr int kStreamTypeDataCarousel = 0x0D;  // never kept in an output

}  // namespace quill
