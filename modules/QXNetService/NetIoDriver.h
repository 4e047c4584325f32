// The I/O driver behind INetIoDriver: one Asio io_context whose work runs on
// whichever thread calls RunFor, one thread at a time. The services it
// drives create their acceptors and sockets on Context(); it must outlive
// them, which the reference count ensures.
#pragma once

// Standard headers before Asio: it picks its handler allocator from the
// standard library's configuration macros, and every file of the module must
// make the same choice, or memory allocated in one is freed wrongly in another.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

#include <asio.hpp>

#include "modules/QXNetService/INetService.h"

class CNetIoDriver final : public INetIoDriver {
public:
    CNetIoDriver();
    CNetIoDriver(const CNetIoDriver&) = delete;
    CNetIoDriver& operator=(const CNetIoDriver&) = delete;

    int RunFor(int timeoutMs) override;
    void Wake() override;
    void AddRef() override;
    void Release() override;

    asio::io_context& Context() { return m_Io; }
    // Takes the turn from the thread in RunFor (waking it) and runs work on
    // the caller's thread until done() holds; done() is asked before each
    // piece of work.
    void RunUntil(const std::function<bool()>& done);

private:
    ~CNetIoDriver() = default;

    asio::io_context m_Io;
    // Without it a context with no work would stop, and every later RunFor
    // would return at once instead of waiting.
    asio::executor_work_guard<asio::io_context::executor_type> m_Work;
    std::atomic<int> m_References{1};
    std::atomic<bool> m_WakePosted{false};

    std::mutex m_TurnLock;  // held by the thread running the context
    std::condition_variable m_TurnFree;
    // RunUntil calls waiting for the turn; lowered under m_TurnLock.
    std::atomic<int> m_TakeoversWaiting{0};
};
