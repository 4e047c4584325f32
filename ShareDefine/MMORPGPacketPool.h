// MMORPGPacketPool: the one process-wide store of recycled packets. It owns
// every packet it ever created; AllocPacket() hands one out (zero header,
// empty payload) and the holder owns it until it pushes it into a
// CThreadQueue or gives it back with FreePacket(). All operations may be
// called from any thread (one re-entrant lock). The pool is created on the
// first GetPacketPool() and destroyed by ReleasePacketPool(), which destroys
// every packet, handed out or not.
#pragma once

#include <atomic>

#include "ShareDefine/AAutoQueue.h"
#include "ShareDefine/MMORPGPacket.h"

namespace MMORPG {

class MMORPGPacketPool : public AAutoQueue<MMORPGPacket> {
public:
    static constexpr int kInitialSize = 5000;
    static constexpr int kGrowStep = 500;

    MMORPGPacketPool();

    // A free packet marked in use (m_Count raised), growing the pool by
    // kGrowStep when none is free. Null, after an Error line, when no usable
    // packet can be produced; m_Count is then unchanged.
    MMORPGPacket* Alloc();
    // Alloc for up to count packets under one hold of the lock (a read's
    // worth); returns how many were put into `out`, fewer only when the
    // pool could not grow (with Alloc's Error line).
    int AllocSome(MMORPGPacket** out, int count);
    // Takes a handed-out packet back: payload emptied, next in line for
    // Alloc. Scratch packets and packets not handed out are refused with an
    // Error line and leave m_Count unchanged.
    void Free(MMORPGPacket* pack);
    // Free for each of count packets, under one hold of the lock (a batch
    // sent or written at once); null entries are skipped.
    void FreeSome(MMORPGPacket* const* packs, int count);
    // The most packets ever in use at once (any thread; advisory).
    int GetPeakInUse() const { return m_PeakInUse.load(std::memory_order_relaxed); }

protected:
    // Makes one packet for growth; may throw std::bad_alloc.
    virtual MMORPGPacket* NewPacket() { return new MMORPGPacket(); }

private:
    void Grow();
    // Whether the packet may be given back; false after an Error line.
    static bool MayGiveBack(MMORPGPacket* pack);
    void FreeLocked(MMORPGPacket* pack);
    // Takes a free packet and marks it in use (caller holds m_Lock);
    // null when none can be had.
    MMORPGPacket* TakeLocked();
    void NotePeakLocked(int inUse);

    std::atomic<int> m_PeakInUse{0};  // written under m_Lock
};

}  // namespace MMORPG

// The process-wide pool, created on first use (double-checked under a
// SingletonEx::CResGuard).
MMORPG::MMORPGPacketPool* GetPacketPool();
// Destroys the process-wide pool (window shutdown; tests). No packet may be
// used afterwards; a later GetPacketPool() creates a fresh pool.
void ReleasePacketPool();
// A pooled packet with an all-zero header, or null when none can be had.
MMORPG::MMORPGPacket* AllocPacket();
// Up to count pooled packets with all-zero headers into `out`; how many.
int AllocPackets(MMORPG::MMORPGPacket** out, int count);
// Gives a packet back to the process-wide pool.
void FreePacket(MMORPG::MMORPGPacket* packet);
// Gives count packets back at once; null entries are skipped.
void FreePackets(MMORPG::MMORPGPacket* const* packets, int count);
