// The received frame bodies waiting for Receive, oldest first. Bounded in
// count and in bytes so a flooding StatusServer cannot eat the gateway's
// memory: when full, the newest body is dropped and counted. The link thread
// pushes, the gateway's request thread pops; every operation takes the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

class CSSPacketQueue {
public:
    CSSPacketQueue(size_t maxPackets, size_t maxBytes);

    CSSPacketQueue(const CSSPacketQueue&) = delete;
    CSSPacketQueue& operator=(const CSSPacketQueue&) = delete;

    // False when the queue was full and `body` was dropped.
    bool Push(std::string&& body);
    bool Pop(std::string& body);
    size_t Size() const;
    uint64_t Dropped() const;
    void Clear();

private:
    const size_t m_MaxPackets;
    const size_t m_MaxBytes;
    mutable std::mutex m_Mutex;
    std::deque<std::string> m_Bodies;  // guarded by m_Mutex
    size_t m_Bytes = 0;                // guarded by m_Mutex
    uint64_t m_Dropped = 0;            // guarded by m_Mutex
};
