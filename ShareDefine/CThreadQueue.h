// CThreadQueue<T>: the locked, unbounded FIFO through which packets change
// threads. Pushing hands ownership of a pooled packet to the queue; whoever
// pops it owns it and must push it on or free it; PacketPop copies the front
// packet into the caller's (scratch) packet and gives the queued one back to
// the pool at once. Every operation may be called from any thread. Lock
// order: queue lock, then pool lock (FreeElement under the queue lock);
// the pool never takes a queue lock. A wake target, when set, is woken
// outside the lock whenever a Push finds the queue empty, so a consumer that
// sleeps once it finds the queue empty reacts at once.
#pragma once

#include <atomic>
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
    CThreadQueue() : m_Queue(std::make_unique<AQueue<T>>()) {}
    // Gives every queued packet back to the pool.
    virtual ~CThreadQueue() { Clear(); }
    CThreadQueue(const CThreadQueue&) = delete;
    CThreadQueue& operator=(const CThreadQueue&) = delete;

    // Copies the front packet into *Packet and frees the queued one:
    // 1 when copied; 0 when empty, on a queued null, or when Packet is null
    // (then nothing is popped).
    virtual int PacketPop(T* Packet) {
        if (Packet == nullptr) return 0;
        TLockObj lock(m_Lock);
        T* popped = nullptr;
        if (!m_Queue->Pop(&popped)) return 0;
        m_Size.fetch_sub(1, std::memory_order_relaxed);
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
            wasEmpty = m_Queue->Empty();
            m_Queue->Push(element);
            m_Size.fetch_add(1, std::memory_order_relaxed);
        }
        if (wasEmpty) {
            if (IWakeable* target = m_WakeTarget.load(std::memory_order_acquire)) target->Wake();
        }
        return 1;
    }

    // Removes and returns the front pointer; null when empty.
    virtual T* Pop() {
        TLockObj lock(m_Lock);
        T* popped = nullptr;
        if (!m_Queue->Pop(&popped)) return nullptr;
        m_Size.fetch_sub(1, std::memory_order_relaxed);
        return popped;
    }

    // The front pointer without removing it; null when empty.
    virtual T* Front() {
        TLockObj lock(m_Lock);
        return m_Queue->Front();
    }

    virtual void FreeElement(T* element) { FreePacket(element); }

    // Queued pointers; read without the lock, so it may be stale at once.
    virtual int Count() const { return m_Size.load(std::memory_order_relaxed); }

    // Pops everything, giving each packet back to the pool.
    void Clear() {
        TLockObj lock(m_Lock);
        T* popped = nullptr;
        while (m_Queue->Pop(&popped)) {
            m_Size.fetch_sub(1, std::memory_order_relaxed);
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
    plat::CriticalSection m_Lock;
    std::unique_ptr<AQueue<T>> m_Queue;  // guarded by m_Lock
    std::atomic<int> m_Size{0};          // mirrors m_Queue->Count() for lock-free reads
    std::atomic<IWakeable*> m_WakeTarget{nullptr};
};
