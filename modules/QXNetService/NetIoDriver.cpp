#include "modules/QXNetService/NetIoDriver.h"

#include <chrono>
#include <exception>

CNetIoDriver::CNetIoDriver() : m_Work(m_Io.get_executor()) {}

int CNetIoDriver::RunFor(int timeoutMs) {
    std::unique_lock turn(m_TurnLock);
    // A StopListen waiting for its turn goes first; RunFor is called again
    // right after it returns and would otherwise keep the turn for ever.
    m_TurnFree.wait(turn, [this] { return m_TakeoversWaiting.load(std::memory_order_acquire) == 0; });
    size_t ran = 0;
    try {
        ran = timeoutMs > 0 ? m_Io.run_one_for(std::chrono::milliseconds(timeoutMs)) : m_Io.poll_one();
        if (ran > 0) ran += m_Io.poll();
    } catch (const std::exception&) {
        // A handler that threw (out of memory) lost only its own operation;
        // the caller comes back for the rest.
        ++ran;
    }
    return static_cast<int>(ran);
}

void CNetIoDriver::Wake() {
    // One queued wake is enough however many threads ask for it.
    if (m_WakePosted.exchange(true, std::memory_order_acq_rel)) return;
    asio::post(m_Io, [this] { m_WakePosted.store(false, std::memory_order_release); });
}

void CNetIoDriver::RunUntil(const std::function<bool()>& done) {
    // Announced before the wake, so the thread in RunFor does not take the
    // turn back before this one gets it.
    m_TakeoversWaiting.fetch_add(1, std::memory_order_acq_rel);
    Wake();
    std::unique_lock turn(m_TurnLock);
    m_TakeoversWaiting.fetch_sub(1, std::memory_order_acq_rel);
    while (!done()) {
        try {
            m_Io.run_one_for(std::chrono::milliseconds(100));
        } catch (const std::exception&) {
            // As in RunFor: only the throwing handler's operation is lost.
        }
    }
    turn.unlock();
    m_TurnFree.notify_all();
}

void CNetIoDriver::AddRef() { m_References.fetch_add(1, std::memory_order_relaxed); }

void CNetIoDriver::Release() {
    if (m_References.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}
