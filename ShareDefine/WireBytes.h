// Little-endian reads and writes of wire fields, byte by byte, so that the
// byte order on the wire never depends on the host or on alignment.
#pragma once

#include <cstdint>

namespace wire {

inline uint16_t ReadLE16(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

inline uint32_t ReadLE32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

inline void WriteLE16(char* p, uint16_t value) {
    p[0] = static_cast<char>(value & 0xFF);
    p[1] = static_cast<char>(value >> 8);
}

inline void WriteLE32(char* p, uint32_t value) {
    p[0] = static_cast<char>(value & 0xFF);
    p[1] = static_cast<char>((value >> 8) & 0xFF);
    p[2] = static_cast<char>((value >> 16) & 0xFF);
    p[3] = static_cast<char>(value >> 24);
}

}  // namespace wire
