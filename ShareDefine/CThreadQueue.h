// CThreadQueue<T>: the locked, unbounded FIFO through which packets change
// threads. Pushing hands ownership of a pooled packet to the queue; whoever
// pops it owns it and must push it on or free it; PacketPop copies the front
// packet into the caller's (scratch) packet and gives the queued one back to
// the pool at once. Every operation may be called from any thread. The queue
// has a pushing and a popping part with a lock each, so a producer and the
// consumer of a busy queue meet on a lock once per batch rather than once per
// packet (on a small machine each such meeting costs the loser a sleep).
// Lock order: popping lock, pushing lock, then pool lock (FreeElement under
// the popping lock); the pool never takes a queue lock. A wake target, when
// set, is woken outside the lock whenever a Push finds the queue empty, so a
// consumer that sleeps once it finds the queue empty reacts at once.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "ShareDefine/AQueue.h"
#include "ShareDefine/MMORPGPacketPool.h"
#include "ShareDefine/TLockObj.h"
#include "infra/IWakeable.h"
#include "infra/Log.h"
#include "platform/CriticalSection.h"

template <typename T>
class CThreadQueue {
public:
    CThreadQueue() : m_Taken(std::make_unique<AQueue<T>>()), m_Queue(std::make_unique<AQueue<T>>()) {}
    // Gives every queued packet back to the pool.
    virtual ~CThreadQueue() { Clear(); }
    CThreadQueue(const CThreadQueue&) = delete;
    CThreadQueue& operator=(const CThreadQueue&) = delete;

    // Copies the front packet into *Packet and frees the queued one:
    // 1 when copied; 0 when empty, on a queued null, or when Packet is null
    // (then nothing is popped).
    virtual int PacketPop(T* Packet) {
        if (Packet == nullptr) return 0;
        TLockObj lock(m_TakeLock);
        T* popped = nullptr;
        if (!TakeFrontLocked(&popped)) return 0;
        if (popped == nullptr) {
            GetLog()->LogWarn("CThreadQueue<T>::PacketPop(T * Packet)  m_Queue->Pop()== NULL");
            return 0;
        }
        Packet->CopyFrom(popped);
        FreeElement(popped);
        return 1;
    }

    // Appends at the back; returns 1.
    virtual int Push(T* element) {
        bool wasEmpty = false;
        {
            TLockObj lock(m_Lock);
            wasEmpty = m_Size.fetch_add(1, std::memory_order_acq_rel) == 0;
            m_Bytes.fetch_add(BytesOf(element), std::memory_order_relaxed);
            m_Queue->Push(element);
        }
        if (wasEmpty) {
            if (IWakeable* target = m_WakeTarget.load(std::memory_order_acquire)) target->Wake();
        }
        return 1;
    }

    // Appends count pointers at the back, in their order, under one hold of
    // the lock; wakes the target as Push does when the queue was empty.
    // Returns count.
    int PushSome(T* const* elements, int count) {
        if (count <= 0) return 0;
        int64_t bytes = 0;
        for (int i = 0; i < count; ++i) bytes += BytesOf(elements[i]);
        bool wasEmpty = false;
        {
            TLockObj lock(m_Lock);
            wasEmpty = m_Size.fetch_add(count, std::memory_order_acq_rel) == 0;
            m_Bytes.fetch_add(bytes, std::memory_order_relaxed);
            for (int i = 0; i < count; ++i) m_Queue->Push(elements[i]);
        }
        if (wasEmpty) {
            if (IWakeable* target = m_WakeTarget.load(std::memory_order_acquire)) target->Wake();
        }
        return count;
    }

    // Removes and returns the front pointer; null when empty.
    virtual T* Pop() {
        TLockObj lock(m_TakeLock);
        T* popped = nullptr;
        if (!TakeFrontLocked(&popped)) return nullptr;
        return popped;
    }

    // Removes up to max front pointers into out, oldest first; returns how
    // many. One hold of the lock and one count update for the whole batch:
    // a consumer draining a busy queue pays the shared count's cache line
    // once per batch instead of once per packet.
    int PopSome(T** out, int max) {
        TLockObj lock(m_TakeLock);
        if (m_Taken->Empty()) TakeAllQueuedLocked();
        int taken = 0;
        int64_t bytes = 0;
        while (taken < max && m_Taken->Pop(&out[taken])) bytes += BytesOf(out[taken++]);
        if (taken > 0) {
            m_Size.fetch_sub(taken, std::memory_order_acq_rel);
            m_Bytes.fetch_sub(bytes, std::memory_order_relaxed);
        }
        return taken;
    }

    // The front pointer without removing it; null when empty.
    virtual T* Front() {
        TLockObj lock(m_TakeLock);
        if (m_Taken->Empty()) TakeAllQueuedLocked();
        return m_Taken->Front();
    }

    virtual void FreeElement(T* element) { FreePacket(element); }

    // Queued pointers; read without the lock, so it may be stale at once.
    virtual int Count() const { return m_Size.load(std::memory_order_relaxed); }
    // Data bytes of the queued packets (their payloads); as stale as Count.
    int64_t Bytes() const { return m_Bytes.load(std::memory_order_relaxed); }

    // Pops everything, giving each packet back to the pool.
    void Clear() {
        TLockObj lock(m_TakeLock);
        T* popped = nullptr;
        while (TakeFrontLocked(&popped)) {
            if (popped == nullptr) {
                GetLog()->LogWarn("CThreadQueue<T>::Clear()  m_Queue->Pop()== NULL");
                continue;
            }
            FreeElement(popped);
        }
    }

    // The consumer to wake on a push to an empty queue (not owned; must
    // outlive the queue or be unset with nullptr first).
    void SetWakeTarget(IWakeable* target) { m_WakeTarget.store(target, std::memory_order_release); }

private:
    // Callers hold m_TakeLock. Moves everything pushed so far behind what
    // was taken earlier, under one hold of the push lock.
    void TakeAllQueuedLocked() {
        TLockObj lock(m_Lock);
        m_Taken->Swap(*m_Queue);
    }
    bool TakeFrontLocked(T** popped) {
        if (m_Taken->Empty()) TakeAllQueuedLocked();
        if (!m_Taken->Pop(popped)) return false;
        m_Size.fetch_sub(1, std::memory_order_acq_rel);
        m_Bytes.fetch_sub(BytesOf(*popped), std::memory_order_relaxed);
        return true;
    }
    static int64_t BytesOf(const T* element) { return element != nullptr ? element->GetDataLen() : 0; }

    // Pushers hold m_Lock; poppers hold m_TakeLock and take m_Lock only
    // when their own part has run empty, once for everything pushed since:
    // a pusher and a popper meet on a lock once per batch, not per packet.
    // Lock order: m_TakeLock, then m_Lock.
    // Each end keeps to a cache line of its own, so a producer and a
    // consumer running at once on two CPUs do not steal each other's line
    // on every packet; only the shared count moves between them.
    static constexpr size_t kCacheLine = 64;
    alignas(kCacheLine) plat::CriticalSection m_TakeLock{plat::CriticalSection::kShortHoldSpinCount};
    std::unique_ptr<AQueue<T>> m_Taken;  // older part, guarded by m_TakeLock
    alignas(kCacheLine) plat::CriticalSection m_Lock{plat::CriticalSection::kShortHoldSpinCount};
    std::unique_ptr<AQueue<T>> m_Queue;  // newer part, guarded by m_Lock
    alignas(kCacheLine) std::atomic<int> m_Size{0};  // both parts, for lock-free reads
    std::atomic<int64_t> m_Bytes{0};                 // beside the count: the same line moves
    std::atomic<IWakeable*> m_WakeTarget{nullptr};
};
