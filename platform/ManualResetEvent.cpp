#include "ManualResetEvent.h"

#include <chrono>

namespace plat {

ManualResetEvent::ManualResetEvent(std::string name, bool initiallySignaled)
    : m_Name(std::move(name)), m_Signaled(initiallySignaled) {}

void ManualResetEvent::Set() {
    {
        std::lock_guard lock(m_Mutex);
        m_Signaled = true;
    }
    m_Changed.notify_all();
}

void ManualResetEvent::Reset() {
    std::lock_guard lock(m_Mutex);
    m_Signaled = false;
}

bool ManualResetEvent::IsSet() const {
    std::lock_guard lock(m_Mutex);
    return m_Signaled;
}

WaitResult ManualResetEvent::Wait(uint32_t timeoutMs) {
    std::unique_lock lock(m_Mutex);
    if (timeoutMs == kInfinite) {
        m_Changed.wait(lock, [this] { return m_Signaled; });
        return WaitResult::Signaled;
    }
    const bool signaled = m_Changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                             [this] { return m_Signaled; });
    return signaled ? WaitResult::Signaled : WaitResult::Timeout;
}

}  // namespace plat
