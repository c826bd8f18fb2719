// orqByteOrder: reading and writing the little-endian integers of the database file format
// (headers, map pages, block chains, index pages) at unaligned byte positions.
#pragma once
#include <cstdint>

namespace ostra {

inline uint16_t Load16(const uint8_t* P) { return uint16_t(P[0] | P[1] << 8); }

inline uint32_t Load32(const uint8_t* P) {
    return uint32_t(P[0]) | uint32_t(P[1]) << 8 | uint32_t(P[2]) << 16 | uint32_t(P[3]) << 24;
}

inline uint64_t Load64(const uint8_t* P) { return uint64_t(Load32(P)) | uint64_t(Load32(P + 4)) << 32; }

inline void Store16(uint8_t* P, uint16_t Value) {
    P[0] = uint8_t(Value);
    P[1] = uint8_t(Value >> 8);
}

inline void Store32(uint8_t* P, uint32_t Value) {
    P[0] = uint8_t(Value);
    P[1] = uint8_t(Value >> 8);
    P[2] = uint8_t(Value >> 16);
    P[3] = uint8_t(Value >> 24);
}

inline void Store64(uint8_t* P, uint64_t Value) {
    Store32(P, uint32_t(Value));
    Store32(P + 4, uint32_t(Value >> 32));
}

}  // namespace ostra
