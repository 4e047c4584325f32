// A manual-reset event in the Windows sense: Set() releases every waiter and
// keeps releasing later waiters until Reset(). Starts not signalled. The name
// is kept for diagnostics only; events are not shared between processes.
// All operations are safe from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace plat {

enum class WaitResult { Signaled, Timeout, Abandoned };

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class ManualResetEvent {
public:
    explicit ManualResetEvent(std::string name = {}, bool initiallySignaled = false);
    virtual ~ManualResetEvent() = default;
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // Waits until the event is signalled or timeoutMs passed (kInfinite: no limit).
    virtual WaitResult Wait(uint32_t timeoutMs = kInfinite);

    const std::string& Name() const { return m_Name; }

private:
    const std::string m_Name;
    mutable std::mutex m_Mutex;
    std::condition_variable m_Changed;
    bool m_Signaled;
};

}  // namespace plat
