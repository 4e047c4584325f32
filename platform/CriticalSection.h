// A Windows-style critical section: a mutex that the owning thread may
// enter again (each Enter needs its Leave). Satisfies BasicLockable, so
// std::lock_guard and std::unique_lock work with it as well.
//
// Like a section made with a spin count, Enter on a section that another
// thread holds first tries again for up to spinCount CPU pauses, and only
// then blocks. A lock held for a few pointer moves is free again long
// before a blocked waiter could be put to sleep and woken, and a waiter
// that does block costs the holder a wake-up call on its way out.
#pragma once

#include <cstdint>
#include <mutex>

namespace plat {

class CriticalSection {
public:
    // For sections held only for a few list operations (the packet queues
    // and the packet pool): about 25 us of pauses on the hosts measured in
    // bench/relay-figures.md, where 100, 300 and 4000 pauses did worse.
    static constexpr uint32_t kShortHoldSpinCount = 1000;

    explicit CriticalSection(uint32_t spinCount = 0) : m_SpinCount(spinCount) {}
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() {
        for (uint32_t i = 0; i < m_SpinCount; ++i) {
            if (m_Mutex.try_lock()) return;
            PauseCpu();
        }
        m_Mutex.lock();
    }
    void Leave() { m_Mutex.unlock(); }
    bool TryEnter() { return m_Mutex.try_lock(); }

    void lock() { Enter(); }
    void unlock() { Leave(); }
    bool try_lock() { return TryEnter(); }

private:
    // Tells the CPU that this is a wait loop: the sibling hardware thread
    // gets the core, and leaving the loop does not flush the pipeline.
    static void PauseCpu() {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#elif defined(__aarch64__)
        asm volatile("yield");
#endif
    }

    const uint32_t m_SpinCount;
    std::recursive_mutex m_Mutex;
};

}  // namespace plat
