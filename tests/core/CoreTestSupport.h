// Helpers for the relay tests: reading frames as a peer server sees them
// (decoded byte by byte, independent of the code under test), waiting for a
// condition, and packets to put on the relay's receive queue.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "ShareDefine/MMORPGPacketPool.h"
#include "tests/support/LoopbackPeer.h"

namespace coretest {

using namespace std::chrono_literals;

struct Frame {
    uint32_t context = 0;
    int16_t destIndex = 0;
    uint8_t packType = 0;
    uint8_t destServerType = 0;
    uint8_t srcServerType = 0;
    std::string payload;
};

// The next whole frame from the peer, or nullopt when none came in time.
inline std::optional<Frame> ReadFrame(nettest::LoopbackPeer& peer, std::chrono::milliseconds timeout = 10s) {
    const std::string prefix = peer.Receive(6, timeout);
    if (prefix.size() < 6 || static_cast<uint8_t>(prefix[0]) != 0xFF || static_cast<uint8_t>(prefix[1]) != 0xCC) {
        return std::nullopt;
    }
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<uint8_t>(prefix[2 + i])) << (8 * i);
    if (length < 9) return std::nullopt;
    const std::string body = peer.Receive(length, timeout);
    if (body.size() < length) return std::nullopt;
    Frame frame;
    for (int i = 0; i < 4; ++i) frame.context |= static_cast<uint32_t>(static_cast<uint8_t>(body[i])) << (8 * i);
    frame.destIndex = static_cast<int16_t>(static_cast<uint8_t>(body[4]) | (static_cast<uint8_t>(body[5]) << 8));
    frame.packType = static_cast<uint8_t>(body[6]);
    frame.destServerType = static_cast<uint8_t>(body[7]);
    frame.srcServerType = static_cast<uint8_t>(body[8]);
    frame.payload = body.substr(9);
    return frame;
}

// The next frame that is not a keep-alive (for tests whose relay runs its
// own idle passes).
inline std::optional<Frame> ReadNonKeepAlive(nettest::LoopbackPeer& peer, std::chrono::milliseconds timeout = 10s) {
    for (;;) {
        std::optional<Frame> frame = ReadFrame(peer, timeout);
        if (!frame || frame->packType != 7) return frame;
    }
}

inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(1ms);
    }
    return done();
}

inline int PacketsInUse() { return MMORPG::MMORPGPacket::m_Count.load(); }

// A pooled packet as a link core would have queued it.
inline MMORPG::MMORPGPacket* QueuedPacket(uint8_t packType, uint8_t destType, uint8_t srcType, int32_t destIndex,
                                          int16_t headDestIndex = 0, const std::string& payload = "") {
    MMORPG::MMORPGPacket* packet = AllocPacket();
    packet->SetContext(0x0A0B0C0D);
    packet->SetPackType(packType);
    packet->SetDestServerType(destType);
    packet->SetSrcServerType(srcType);
    packet->SetHeadDestIndex(headDestIndex);
    packet->SetDestIndex(destIndex);
    packet->ReadData(payload.data(), static_cast<int>(payload.size()));
    return packet;
}

}  // namespace coretest
