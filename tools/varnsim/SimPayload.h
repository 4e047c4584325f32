// The payload that game, login and route sims send, so that a reply can be
// matched to its packet and timed, and a relay that mangles bytes is caught.
// Little-endian, written and read byte by byte:
//   offset 0   4  sequence number, per connection, from 0
//   offset 4   2  InFlightTable slot that waits for the reply (FFFF: none)
//   offset 6   2  connection index within the sending process
//   offset 8   8  send time, steady clock, nanoseconds
//   offset 16     filler: byte i holds i & 0xFF
// Payloads shorter than 16 bytes carry filler only and cannot be matched.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "ShareDefine/WireBytes.h"

namespace varnsim {

inline constexpr uint32_t kStampBytes = 16;

struct SimStamp {
    uint32_t seq = 0;
    uint16_t slot = 0;
    uint16_t connection = 0;
    uint64_t sentNs = 0;
};

inline void WriteStamp(char* payload, const SimStamp& stamp) {
    wire::WriteLE32(payload, stamp.seq);
    wire::WriteLE16(payload + 4, stamp.slot);
    wire::WriteLE16(payload + 6, stamp.connection);
    wire::WriteLE32(payload + 8, static_cast<uint32_t>(stamp.sentNs & 0xFFFFFFFFu));
    wire::WriteLE32(payload + 12, static_cast<uint32_t>(stamp.sentNs >> 32));
}

inline SimStamp ReadStamp(const char* payload) {
    SimStamp stamp;
    stamp.seq = wire::ReadLE32(payload);
    stamp.slot = wire::ReadLE16(payload + 4);
    stamp.connection = wire::ReadLE16(payload + 6);
    stamp.sentNs = static_cast<uint64_t>(wire::ReadLE32(payload + 8)) |
                   (static_cast<uint64_t>(wire::ReadLE32(payload + 12)) << 32);
    return stamp;
}

// A payload of `size` bytes holding the filler, ready for a stamp.
inline std::string FillerPayload(uint32_t size) {
    std::string payload(size, '\0');
    for (uint32_t i = 0; i < size; ++i) payload[i] = static_cast<char>(i & 0xFF);
    return payload;
}

inline uint64_t SteadyNowNs() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

}  // namespace varnsim
