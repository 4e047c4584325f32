// FNV-1a, 64 bits: a short, stable stand-in for a name that is too long or
// holds characters a kernel object name cannot (shared memory, socket names).
#pragma once

#include <cstdint>
#include <string>

namespace plat {

inline uint64_t Fnv1a64(const std::string& text) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : text) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 0x100000001b3ull;
    }
    return hash;
}

}  // namespace plat
