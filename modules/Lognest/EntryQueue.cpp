#include "modules/Lognest/EntryQueue.h"

namespace lognest {

bool EntryQueue::Push(LogEntry&& entry) {
    bool wake = false;
    {
        std::lock_guard lock(m_Mutex);
        if (m_Closed) return false;
        m_Pending.push_back(std::move(entry));
        ++m_Accepted;
        // Only the push that finds the consumer asleep pays for the wake-up.
        wake = m_ConsumerAsleep;
        m_ConsumerAsleep = false;
    }
    if (wake) m_WorkSignal.notify_one();
    return true;
}

bool EntryQueue::TakeBatch(std::vector<LogEntry>& batch) {
    std::unique_lock lock(m_Mutex);
    // A while loop rather than a predicate wait so the asleep flag is set
    // again after every spurious wake-up.
    while (m_Pending.empty() && !m_StopRequested) {
        m_ConsumerAsleep = true;
        m_WorkSignal.wait(lock);
    }
    m_ConsumerAsleep = false;
    if (m_Pending.empty()) {
        m_Closed = true;
        lock.unlock();
        m_WrittenSignal.notify_all();
        return false;
    }
    batch.swap(m_Pending);
    m_HandedOut = m_Accepted;
    return true;
}

void EntryQueue::MarkWritten() {
    bool wake = false;
    {
        std::lock_guard lock(m_Mutex);
        m_Written = m_HandedOut;
        wake = m_FlushWaiters > 0;
    }
    if (wake) m_WrittenSignal.notify_all();
}

void EntryQueue::RequestStop() {
    {
        std::lock_guard lock(m_Mutex);
        m_StopRequested = true;
        m_ConsumerAsleep = false;
    }
    m_WorkSignal.notify_one();
}

void EntryQueue::WaitForWritten() {
    std::unique_lock lock(m_Mutex);
    const uint64_t target = m_Accepted;
    ++m_FlushWaiters;
    m_WrittenSignal.wait(lock, [&] { return m_Written >= target || m_Closed; });
    --m_FlushWaiters;
}

int64_t EntryQueue::Pending() const {
    std::lock_guard lock(m_Mutex);
    return static_cast<int64_t>(m_Accepted - m_Written);
}

}  // namespace lognest
