// A Windows-style critical section: a mutex that the owning thread may
// enter again (each Enter needs its Leave). Satisfies BasicLockable, so
// std::lock_guard and std::unique_lock work with it as well.
#pragma once

#include <mutex>

namespace plat {

class CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() { m_Mutex.lock(); }
    void Leave() { m_Mutex.unlock(); }
    bool TryEnter() { return m_Mutex.try_lock(); }

    void lock() { Enter(); }
    void unlock() { Leave(); }
    bool try_lock() { return TryEnter(); }

private:
    std::recursive_mutex m_Mutex;
};

}  // namespace plat
