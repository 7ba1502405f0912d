// The reversible transform of the substitute descrambler library, shared by the library (which
// undoes it) and the tests (which apply it to build scrambled recordings). It is a test fixture, not
// a cipher.
//
//   transport_scrambling_control 3 ("odd key"): the library holds this key. Every payload byte i
//       (counted from the first byte after the header and adaptation field) is XORed with
//       kSubstituteKey[i % 8]; descrambling XORs again and sets the control bits to 0.
//   transport_scrambling_control 2 ("even key"): the library has no key for it. Such packets pass
//       unchanged, or are dropped once the library is told to drop what it cannot descramble.
//   0: clear packets pass unchanged.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace substitute {

constexpr std::size_t kPacketSize = 188;
constexpr std::array<std::uint8_t, 8> kSubstituteKey{0x3C, 0xA5, 0x5A, 0xC3, 0x96, 0x69, 0x0F, 0xF1};
constexpr std::uint8_t kKnownKey = 3;
constexpr std::uint8_t kUnknownKey = 2;

inline std::uint8_t scrambling_control(const std::uint8_t* p) { return static_cast<std::uint8_t>(p[3] >> 6); }

// First payload byte (ISO/IEC 13818-1: adaptation_field_control in byte 3, the field's length at
// byte 4); kPacketSize when the packet carries no payload.
inline std::size_t payload_start(const std::uint8_t* p) {
    const int afc = (p[3] >> 4) & 3;
    if (afc == 1) return 4;
    if (afc == 3) {
        const std::size_t start = 5u + p[4];
        return start < kPacketSize ? start : kPacketSize;
    }
    return kPacketSize;
}

inline void xor_payload(std::uint8_t* p) {
    for (std::size_t i = payload_start(p), k = 0; i < kPacketSize; ++i, ++k) p[i] ^= kSubstituteKey[k % 8];
}

// Scrambles a clear packet with the key the library holds (or only marks it with the one it lacks).
inline void scramble(std::uint8_t* p, std::uint8_t key = kKnownKey) {
    if (key == kKnownKey) xor_payload(p);
    p[3] = static_cast<std::uint8_t>((p[3] & 0x3F) | (key << 6));
}

// What the library does to one packet: true when it is descrambled or clear.
inline bool descramble(std::uint8_t* p) {
    const std::uint8_t control = scrambling_control(p);
    if (control == 0) return true;
    if (control != kKnownKey) return false;
    xor_payload(p);
    p[3] &= 0x3F;
    return true;
}

}  // namespace substitute
