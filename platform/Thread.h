// The platform thread object that worker threads derive from: created
// suspended, started by Resume(), able to park itself with Suspend() until
// another thread calls Resume(), and joined with WaitFor(). Terminate() only
// raises a flag that Execute() is expected to poll.
//
// Resume(), Terminate(), IsSuspended() and WaitFor() are called from a
// controlling thread; Suspend() only from the thread itself. A derived class
// must end and join its thread in its own destructor (TerminateAndJoin), since
// Execute() must not run once the derived part is gone.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace plat {

class Thread {
public:
    Thread() = default;
    virtual ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts the thread on the first call; later calls release a parked thread.
    // Resuming a thread that is neither parked nor about to park does nothing.
    void Resume();
    // Parks the calling thread (must be this object's thread) until Resume().
    // beforePark runs after the thread counts as suspended, so a Resume() that
    // a controller issues in answer to something beforePark signalled is never lost.
    void Suspend(const std::function<void()>& beforePark = {});
    bool IsSuspended() const;

    void Terminate() { m_Terminated.store(true, std::memory_order_release); }
    bool Terminated() const { return m_Terminated.load(std::memory_order_acquire); }
    // Joins the thread; returns at once when it never started or was joined.
    void WaitFor();

    // OS thread id (gettid); 0 until the thread has started.
    int ThreadId() const { return m_ThreadId.load(std::memory_order_acquire); }
    bool Started() const;
    bool Finished() const { return m_Finished.load(std::memory_order_acquire); }

protected:
    virtual void Execute() = 0;
    // Raises the terminate flag, releases a parked thread and joins it.
    void TerminateAndJoin();

private:
    void Body();

    mutable std::mutex m_Mutex;
    std::condition_variable m_ResumeSignal;
    bool m_Suspended = true;  // guarded by m_Mutex
    std::thread m_Thread;     // guarded by m_Mutex until joined
    std::atomic<bool> m_Terminated{false};
    std::atomic<bool> m_Finished{false};
    std::atomic<int> m_ThreadId{0};
};

// Current OS thread id (gettid).
int CurrentThreadId();

// Names the calling thread for diagnostics: the crash reporter prints it and
// the kernel keeps its first 15 characters (visible in top and gdb).
void SetCurrentThreadName(const char* name);
// Name given by SetCurrentThreadName, or "" when none was given.
const char* CurrentThreadName();

// For workers that hand work to each other through queues: a worker that
// this thread wakes no longer preempts it on the spot but runs when this
// thread sleeps or its time slice ends (Linux SCHED_BATCH, same priority).
// A pass then hands over its whole batch with one switch instead of one
// switch per item, while a woken worker with a free CPU still starts at
// once. False when the system refuses; the thread then keeps its policy.
bool SetCurrentThreadHandOffScheduling();
// True when the calling thread runs with the hand-off policy.
bool CurrentThreadHasHandOffScheduling();

// Lets another runnable thread of this CPU run before the caller goes on
// (SwitchToThread; sched_yield here). Returns at once when there is none.
void YieldToOtherThreads();

// The CPU the calling thread runs on at this moment; -1 when unknown.
int CurrentCpu();
// Moves the calling thread from `cpu` to another CPU it may run on, then
// lets it run on all of them again: a nudge, not a pin, so the scheduler
// stays free to place it later. False (and nothing changed) when the
// thread may run on no other CPU.
bool MoveCurrentThreadOffCpu(int cpu);

}  // namespace plat
