// PacketStage: the packets one receiving thread frames from one read (a
// batch), held and pushed onto the core's receive queue together when the
// read is framed. That queue has two producers, the process thread and the
// DataServer link's receive thread, and each push takes its lock and its
// count line from the other; a stage pays that once per batch (or per full
// stage) instead of once per packet. Outside a batch (a link-down notice) a
// packet is pushed at once. Used by one thread at a time.
#pragma once

#include "ShareDefine/CThreadQueue.h"
#include "ShareDefine/MMORPGPacket.h"

class PacketStage {
public:
    // target: not owned, outlives the stage.
    explicit PacketStage(CThreadQueue<MMORPG::MMORPGPacket>* target) : m_Target(target) {}
    // Nothing is held outside a batch; should a packet be left, it goes
    // back to the pool rather than into a queue that may be gone.
    ~PacketStage() {
        for (int i = 0; i < m_Count; ++i) FreePacket(m_Packets[i]);
    }
    PacketStage(const PacketStage&) = delete;
    PacketStage& operator=(const PacketStage&) = delete;

    // Packets are held from here until EndBatch.
    void BeginBatch() { m_InBatch = true; }
    // Pushes what the batch made, in order.
    void EndBatch() {
        m_InBatch = false;
        Flush();
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

    static constexpr int kCapacity = 64;
    CThreadQueue<MMORPG::MMORPGPacket>* m_Target;
    MMORPG::MMORPGPacket* m_Packets[kCapacity] = {};
    int m_Count = 0;
    bool m_InBatch = false;
};
