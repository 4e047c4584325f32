// PacketStage: the packets one receiving thread frames from one read (a
// batch), held and pushed onto the core's receive queue together when the
// read is framed. That queue has two producers, the process thread and the
// DataServer link's receive thread, and each push takes its lock and its
// count line from the other; a stage pays that once per batch (or per full
// stage) instead of once per packet. Outside a batch (a link-down notice) a
// packet is pushed at once. The packets of a batch come from the pool the
// same way: a few at a time, about as many as the last batch made, and
// what the batch did not use goes back when it ends, so between batches
// the stage holds nothing. Used by one thread at a time.
#pragma once

#include <algorithm>

#include "ShareDefine/CThreadQueue.h"
#include "ShareDefine/MMORPGPacket.h"
#include "ShareDefine/MMORPGPacketPool.h"

class PacketStage {
public:
    // target: not owned, outlives the stage.
    explicit PacketStage(CThreadQueue<MMORPG::MMORPGPacket>* target) : m_Target(target) {}
    // Nothing is held outside a batch; should a packet be left, it goes
    // back to the pool rather than into a queue that may be gone.
    ~PacketStage() {
        FreePackets(m_Packets, m_Count);
        GiveBackSpare();
    }
    PacketStage(const PacketStage&) = delete;
    PacketStage& operator=(const PacketStage&) = delete;

    // Packets are held from here until EndBatch.
    void BeginBatch() { m_InBatch = true; }
    // Pushes what the batch made, in order, and gives back the packets it
    // took from the pool but did not use.
    void EndBatch() {
        m_InBatch = false;
        Flush();
        GiveBackSpare();
        m_LastBatchSize = std::max(m_MadeThisBatch, 1);
        m_MadeThisBatch = 0;
    }
    // A pooled packet with an all-zero header for the caller to fill and
    // Add; null (after the pool's Error line) when the pool has none.
    MMORPG::MMORPGPacket* NewPacket() {
        if (!m_InBatch) return AllocPacket();
        if (m_SpareNext == m_SpareCount) {
            const int wanted = std::min(std::max(m_LastBatchSize - m_MadeThisBatch, 1), kSpareCapacity);
            m_SpareCount = AllocPackets(m_Spare, wanted);
            m_SpareNext = 0;
            if (m_SpareCount == 0) return nullptr;
        }
        ++m_MadeThisBatch;
        // In the pool's order: the packet freed last, still in the cache, first.
        return m_Spare[m_SpareNext++];
    }
    // Takes ownership of the packet: held during a batch (pushed when the
    // stage is full), pushed at once otherwise.
    void Add(MMORPG::MMORPGPacket* packet) {
        m_Packets[m_Count++] = packet;
        if (!m_InBatch || m_Count == kCapacity) Flush();
    }

private:
    void Flush() {
        if (m_Count == 0) return;
        m_Target->PushSome(m_Packets, m_Count);
        m_Count = 0;
    }

    void GiveBackSpare() {
        FreePackets(m_Spare + m_SpareNext, m_SpareCount - m_SpareNext);
        m_SpareCount = 0;
        m_SpareNext = 0;
    }

    static constexpr int kCapacity = 64;
    static constexpr int kSpareCapacity = 32;
    CThreadQueue<MMORPG::MMORPGPacket>* m_Target;
    MMORPG::MMORPGPacket* m_Packets[kCapacity] = {};
    int m_Count = 0;
    bool m_InBatch = false;
    // Taken from the pool for this batch and not yet handed out.
    MMORPG::MMORPGPacket* m_Spare[kSpareCapacity] = {};
    int m_SpareCount = 0;  // taken into m_Spare
    int m_SpareNext = 0;   // handed out of them
    int m_MadeThisBatch = 0;
    int m_LastBatchSize = 1;
};
