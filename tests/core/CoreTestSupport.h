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
#include "tests/support/PacketFrames.h"

namespace coretest {

using namespace std::chrono_literals;

using Frame = testsupport::ParsedPacket;

// The next whole frame from the peer, or nullopt when none came in time.
inline std::optional<Frame> ReadFrame(nettest::LoopbackPeer& peer, std::chrono::milliseconds timeout = 10s) {
    std::string bytes = peer.Receive(6, timeout);
    if (bytes.size() < 6) return std::nullopt;
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 + i])) << (8 * i);
    bytes += peer.Receive(length, timeout);
    Frame frame;
    if (!testsupport::TakeFrame(bytes, frame)) return std::nullopt;
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
