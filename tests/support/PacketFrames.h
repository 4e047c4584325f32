// Frames as a peer puts them on the wire, built byte by byte (independent of
// the code under test): FF CC, 32-bit little-endian length, 9-byte header
// (Context, DestIndex, packType, DestServerType, SrcServerType), payload.
#pragma once

#include <cstdint>
#include <string>

namespace testsupport {

struct FrameHeader {
    uint32_t context = 0;
    int16_t destIndex = 0;
    uint8_t packType = 1;
    uint8_t destServerType = 1;
    uint8_t srcServerType = 3;
};

inline std::string PacketFrame(const FrameHeader& h, const std::string& payload) {
    std::string frame("\xFF\xCC", 2);
    const uint32_t length = 9u + static_cast<uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
    for (int i = 0; i < 4; ++i) frame.push_back(static_cast<char>((h.context >> (8 * i)) & 0xFF));
    const auto destIndex = static_cast<uint16_t>(h.destIndex);
    frame.push_back(static_cast<char>(destIndex & 0xFF));
    frame.push_back(static_cast<char>(destIndex >> 8));
    frame.push_back(static_cast<char>(h.packType));
    frame.push_back(static_cast<char>(h.destServerType));
    frame.push_back(static_cast<char>(h.srcServerType));
    return frame + payload;
}

}  // namespace testsupport
