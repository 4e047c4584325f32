// PacketTotals: the packets and their bytes (9-byte header and payload, not
// the frame's 6-byte prefix) that crossed one link kind in each direction
// since the process started. Fed on the threads that frame and send packets,
// read from any thread (the admin listener); relaxed atomic adds, as nothing
// else is ordered by them. Never reset: a reader takes differences. The two
// directions sit on cache lines of their own: on the DataServer link the
// receive thread counts one and the sending threads the other.
#pragma once

#include <atomic>
#include <cstdint>

class PacketTotals {
public:
    void AddIn(uint32_t bytes) {
        m_PacketsIn.fetch_add(1, std::memory_order_relaxed);
        m_BytesIn.fetch_add(bytes, std::memory_order_relaxed);
    }
    // Several packets framed from one read, `bytes` between them.
    void AddIn(uint32_t packets, uint64_t bytes) {
        if (packets == 0) return;
        m_PacketsIn.fetch_add(packets, std::memory_order_relaxed);
        m_BytesIn.fetch_add(bytes, std::memory_order_relaxed);
    }
    void AddOut(uint32_t bytes) {
        m_PacketsOut.fetch_add(1, std::memory_order_relaxed);
        m_BytesOut.fetch_add(bytes, std::memory_order_relaxed);
    }
    // Several packets written at once, `bytes` between them.
    void AddOut(uint32_t packets, uint64_t bytes) {
        if (packets == 0) return;
        m_PacketsOut.fetch_add(packets, std::memory_order_relaxed);
        m_BytesOut.fetch_add(bytes, std::memory_order_relaxed);
    }

    uint64_t PacketsIn() const { return m_PacketsIn.load(std::memory_order_relaxed); }
    uint64_t BytesIn() const { return m_BytesIn.load(std::memory_order_relaxed); }
    uint64_t PacketsOut() const { return m_PacketsOut.load(std::memory_order_relaxed); }
    uint64_t BytesOut() const { return m_BytesOut.load(std::memory_order_relaxed); }

private:
    alignas(64) std::atomic<uint64_t> m_PacketsIn{0};
    std::atomic<uint64_t> m_BytesIn{0};
    alignas(64) std::atomic<uint64_t> m_PacketsOut{0};
    std::atomic<uint64_t> m_BytesOut{0};
};
