// SingletonEx::CResGuard: the recursive lock that guards one-time creation of
// process-wide objects (the packet pool). The thread holding it may lock it
// again; each Lock needs its Unlock. CGuard holds it for one scope. The entry
// count may be read from any thread; it is exact only for the holder.
#pragma once

#include <atomic>
#include <mutex>

namespace SingletonEx {

class CResGuard {
public:
    CResGuard() = default;
    virtual ~CResGuard() = default;
    CResGuard(const CResGuard&) = delete;
    CResGuard& operator=(const CResGuard&) = delete;

    void Lock() {
        m_Mutex.lock();
        m_EntryCount.fetch_add(1, std::memory_order_relaxed);
    }
    void Unlock() {
        m_EntryCount.fetch_sub(1, std::memory_order_relaxed);
        m_Mutex.unlock();
    }
    // How deep the holder has entered; 0 when nobody holds the lock.
    int EntryCount() const { return m_EntryCount.load(std::memory_order_relaxed); }
    bool IsGuarded() const { return EntryCount() > 0; }

    // Holds the guard from construction to destruction.
    class CGuard {
    public:
        explicit CGuard(CResGuard& guard) : m_Guard(&guard) { m_Guard->Lock(); }
        ~CGuard() { m_Guard->Unlock(); }
        CGuard(const CGuard&) = delete;
        CGuard& operator=(const CGuard&) = delete;

    private:
        CResGuard* m_Guard;  // not owned
    };

private:
    std::recursive_mutex m_Mutex;
    std::atomic<int> m_EntryCount{0};
};

}  // namespace SingletonEx
