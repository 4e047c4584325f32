// PacketStage: while a receiving thread frames one read, the packets it
// makes are held here and pushed onto the core's receive queue together when
// the read is framed. The queue is shared by the process thread and the
// DataServer link's receive thread, so each push takes its lock and its
// count line from the other producer; a read framed into a stage pays that
// once (or once per full stage) instead of once per packet. Outside a read
// (a link-down notice) a packet is pushed at once. Used by one thread at a
// time.
#pragma once

#include "ShareDefine/CThreadQueue.h"
#include "ShareDefine/MMORPGPacket.h"

class PacketStage {
public:
    // target: not owned, outlives the stage.
    explicit PacketStage(CThreadQueue<MMORPG::MMORPGPacket>* target) : m_Target(target) {}
    // Nothing is held outside a read; should a packet be left, it goes back
    // to the pool rather than into a queue that may be gone.
    ~PacketStage() {
        for (int i = 0; i < m_Count; ++i) FreePacket(m_Packets[i]);
    }
    PacketStage(const PacketStage&) = delete;
    PacketStage& operator=(const PacketStage&) = delete;

    // A read is being framed: packets are held until EndRead.
    void BeginRead() { m_InRead = true; }
    // Pushes what the read made, in order.
    void EndRead() {
        m_InRead = false;
        Flush();
    }
    // Takes ownership of the packet: held during a read (pushed when the
    // stage is full), pushed at once otherwise.
    void Add(MMORPG::MMORPGPacket* packet) {
        m_Packets[m_Count++] = packet;
        if (!m_InRead || m_Count == kCapacity) Flush();
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
    bool m_InRead = false;
};
