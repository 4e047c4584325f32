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

namespace testsupport {

struct ParsedPacket {
    uint32_t context = 0;
    int16_t destIndex = 0;
    uint8_t packType = 0;
    uint8_t destServerType = 0;
    uint8_t srcServerType = 0;
    std::string payload;
};

// Cuts the first frame off `stream`: true and the packet when a whole frame
// is there (the frame's bytes are removed), false when more bytes are needed.
// A stream that does not start with FF CC is cleared and answers false.
inline bool TakeFrame(std::string& stream, ParsedPacket& packet) {
    if (stream.size() < 6) return false;
    if (static_cast<uint8_t>(stream[0]) != 0xFF || static_cast<uint8_t>(stream[1]) != 0xCC) {
        stream.clear();
        return false;
    }
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<uint8_t>(stream[2 + i])) << (8 * i);
    if (stream.size() < 6u + length || length < 9) return false;
    const auto byte = [&](size_t at) { return static_cast<uint8_t>(stream[at]); };
    packet.context = static_cast<uint32_t>(byte(6) | (byte(7) << 8) | (byte(8) << 16) | (byte(9) << 24));
    packet.destIndex = static_cast<int16_t>(byte(10) | (byte(11) << 8));
    packet.packType = byte(12);
    packet.destServerType = byte(13);
    packet.srcServerType = byte(14);
    packet.payload = stream.substr(15, length - 9);
    stream.erase(0, 6u + length);
    return true;
}

}  // namespace testsupport
