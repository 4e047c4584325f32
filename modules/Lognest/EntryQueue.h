// The hand-over from the logging callers to the one logging thread: an
// unbounded list that the thread takes as a whole batch by swapping vectors,
// so a caller only ever holds the lock for one push_back and no entry is
// refused at any rate. The consumer sleeps on a condition variable while the
// list is empty; producers signal it only when it sleeps.
//
// Push() and WaitForWritten() run on any thread; TakeBatch() and
// MarkWritten() only on the logging thread. Sequence numbers count every
// entry accepted, so a flush can wait for exactly the entries made before it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "modules/Lognest/LogEntry.h"

namespace lognest {

class EntryQueue {
public:
    EntryQueue() = default;
    EntryQueue(const EntryQueue&) = delete;
    EntryQueue& operator=(const EntryQueue&) = delete;

    // False only after the consumer has closed the queue (it is ending).
    bool Push(LogEntry&& entry);

    // Logging thread: swaps the pending entries into batch (which must be
    // empty; its capacity is reused). Sleeps while nothing is pending and no
    // stop was requested. Returns false, and closes the queue, when a stop was
    // requested and nothing is left; then every later Push() fails.
    bool TakeBatch(std::vector<LogEntry>& batch);
    // Logging thread: every entry handed out so far is written and hooked.
    void MarkWritten();
    // Asks the logging thread to end once it has drained the queue.
    void RequestStop();

    // Waits until every entry accepted before the call is marked written.
    // Returns at once when the queue is closed (nothing can be pending then).
    void WaitForWritten();
    // Entries accepted but not yet marked written.
    int64_t Pending() const;

private:
    mutable std::mutex m_Mutex;
    std::condition_variable m_WorkSignal;     // consumer waits: entries or stop
    std::condition_variable m_WrittenSignal;  // flushers wait: written caught up
    std::vector<LogEntry> m_Pending;          // guarded by m_Mutex
    uint64_t m_Accepted = 0;                  // guarded by m_Mutex
    uint64_t m_HandedOut = 0;                 // guarded by m_Mutex
    uint64_t m_Written = 0;                   // guarded by m_Mutex
    int m_FlushWaiters = 0;                   // guarded by m_Mutex
    bool m_ConsumerAsleep = false;            // guarded by m_Mutex
    bool m_StopRequested = false;             // guarded by m_Mutex
    bool m_Closed = false;                    // guarded by m_Mutex
};

}  // namespace lognest
