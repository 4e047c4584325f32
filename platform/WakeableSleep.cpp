#include "WakeableSleep.h"

#include <chrono>

namespace plat {

bool WakeableSleep::SleepFor(uint32_t ms) {
    std::unique_lock lock(m_Mutex);
    const bool woken = m_WakeSignal.wait_for(lock, std::chrono::milliseconds(ms),
                                             [this] { return m_WakePending; });
    m_WakePending = false;
    return woken;
}

void WakeableSleep::Wake() {
    {
        std::lock_guard lock(m_Mutex);
        if (m_WakePending) return;
        m_WakePending = true;
    }
    m_WakeSignal.notify_one();
}

}  // namespace plat
