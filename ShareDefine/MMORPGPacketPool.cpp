#include "ShareDefine/MMORPGPacketPool.h"

#include <atomic>
#include <new>

#include "infra/Log.h"
#include "infra/ResGuard.h"

namespace MMORPG {

MMORPGPacketPool::MMORPGPacketPool() {
    {
        TLockObj lock(m_Lock);
        for (int i = 0; i < kInitialSize; ++i) AddElement(new MMORPGPacket());
        m_GrowStep = kGrowStep;
    }
    GetLog()->LogInfo("Init PacketPool Size = %d", kInitialSize);
}

void MMORPGPacketPool::Grow() {
    // Whatever was created before memory ran out stays in the pool.
    try {
        for (int i = 0; i < m_GrowStep; ++i) AddElement(NewPacket());
    } catch (const std::bad_alloc&) {
    }
}

MMORPGPacket* MMORPGPacketPool::Alloc() {
    MMORPGPacket* packet = nullptr;
    {
        TLockObj lock(m_Lock);
        packet = TakeLocked();
        // Counted under the lock, with Free's count, so the peak is exact.
        if (packet != nullptr) NotePeakLocked(MMORPGPacket::m_Count.fetch_add(1, std::memory_order_relaxed) + 1);
    }
    if (packet == nullptr) GetLog()->LogError("MMORPGPacketPool  m_PacketPool.Alloc == NULL");
    return packet;
}

int MMORPGPacketPool::AllocSome(MMORPGPacket** out, int count) {
    int taken = 0;
    {
        TLockObj lock(m_Lock);
        while (taken < count) {
            MMORPGPacket* packet = TakeLocked();
            if (packet == nullptr) break;
            out[taken++] = packet;
        }
        if (taken > 0) NotePeakLocked(MMORPGPacket::m_Count.fetch_add(taken, std::memory_order_relaxed) + taken);
    }
    if (taken < count) GetLog()->LogError("MMORPGPacketPool  m_PacketPool.Alloc == NULL");
    return taken;
}

MMORPGPacket* MMORPGPacketPool::TakeLocked() {
    if (EmptyCountLocked() <= 0) Grow();
    MMORPGPacket* packet = GetEmpty();
    // A packet found in use is someone else's: it left the free list and
    // comes back when its holder frees it.
    if (packet == nullptr || packet->m_InUse != 0) return nullptr;
    packet->m_InUse = 1;
    return packet;
}

void MMORPGPacketPool::NotePeakLocked(int inUse) {
    if (inUse > m_PeakInUse.load(std::memory_order_relaxed)) m_PeakInUse.store(inUse, std::memory_order_relaxed);
}

void MMORPGPacketPool::Free(MMORPGPacket* pack) {
    if (pack == nullptr) {
        GetLog()->LogError("MMORPGPacketPool::Free  MMORPGPacket * pack == NULL");
        return;
    }
    if (!MayGiveBack(pack)) return;
    TLockObj lock(m_Lock);
    FreeLocked(pack);
}

void MMORPGPacketPool::FreeSome(MMORPGPacket* const* packs, int count) {
    TLockObj lock(m_Lock);
    for (int i = 0; i < count; ++i) {
        if (packs[i] != nullptr && MayGiveBack(packs[i])) FreeLocked(packs[i]);
    }
}

bool MMORPGPacketPool::MayGiveBack(MMORPGPacket* pack) {
    if (pack->CanFree()) return true;
    GetLog()->LogError("MMORPGPacketPool::Free  MMORPGPacket * pack can't free");
    return false;
}

void MMORPGPacketPool::FreeLocked(MMORPGPacket* pack) {
    // The in-use test and the give-back happen under one lock hold, so two
    // threads freeing the same packet cannot both get it into the free list.
    if (pack->m_InUse == 0) {
        GetLog()->LogError("MMORPGPacketPool::Free  MMORPGPacket * pack is Not Used");
        return;
    }
    const int count = MMORPGPacket::m_Count.fetch_sub(1, std::memory_order_relaxed) - 1;
    if (count < 0) {
        GetLog()->LogError("Error : MMORPGPacket::Free, m_Count = %d", count);
        return;
    }
    pack->Reset();
    m_Free.push_front(pack);
    if (EmptyCountLocked() > CountLocked()) {
        GetLog()->LogError("Free Error : EmptyCount(%d) > Count(%d)", EmptyCountLocked(), CountLocked());
    }
}

}  // namespace MMORPG

namespace {

std::atomic<MMORPG::MMORPGPacketPool*> g_PacketPool{nullptr};

SingletonEx::CResGuard& PoolGuard() {
    static SingletonEx::CResGuard guard;
    return guard;
}

}  // namespace

MMORPG::MMORPGPacketPool* GetPacketPool() {
    MMORPG::MMORPGPacketPool* pool = g_PacketPool.load(std::memory_order_acquire);
    if (pool != nullptr) return pool;
    SingletonEx::CResGuard::CGuard guard(PoolGuard());
    pool = g_PacketPool.load(std::memory_order_relaxed);
    if (pool == nullptr) {
        pool = new MMORPG::MMORPGPacketPool();
        g_PacketPool.store(pool, std::memory_order_release);
    }
    return pool;
}

void ReleasePacketPool() {
    SingletonEx::CResGuard::CGuard guard(PoolGuard());
    delete g_PacketPool.exchange(nullptr, std::memory_order_acq_rel);
}

MMORPG::MMORPGPacket* AllocPacket() {
    MMORPG::MMORPGPacket* packet = GetPacketPool()->Alloc();
    if (packet != nullptr) packet->m_PackHead = MMORPG::tagPackHead{};
    return packet;
}

int AllocPackets(MMORPG::MMORPGPacket** out, int count) {
    const int taken = GetPacketPool()->AllocSome(out, count);
    for (int i = 0; i < taken; ++i) out[i]->m_PackHead = MMORPG::tagPackHead{};
    return taken;
}

void FreePacket(MMORPG::MMORPGPacket* packet) { GetPacketPool()->Free(packet); }

void FreePackets(MMORPG::MMORPGPacket* const* packets, int count) { GetPacketPool()->FreeSome(packets, count); }
