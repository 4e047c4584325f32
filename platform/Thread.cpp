#include "Thread.h"

#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace plat {
namespace {

thread_local char t_threadName[64] = "";

}  // namespace

int CurrentThreadId() { return static_cast<int>(::syscall(SYS_gettid)); }

bool SetCurrentThreadHandOffScheduling() {
    const sched_param normalPriority{};
    return sched_setscheduler(0, SCHED_BATCH, &normalPriority) == 0;
}

bool CurrentThreadHasHandOffScheduling() { return sched_getscheduler(0) == SCHED_BATCH; }

void YieldToOtherThreads() { sched_yield(); }

int CurrentCpu() { return sched_getcpu(); }

bool MoveCurrentThreadOffCpu(int cpu) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof(allowed), &allowed) != 0) return false;
    cpu_set_t elsewhere = allowed;
    if (cpu >= 0 && cpu < CPU_SETSIZE) CPU_CLR(cpu, &elsewhere);
    if (CPU_COUNT(&elsewhere) == 0) return false;
    // The kernel migrates the caller before the first call returns; the
    // second gives back the CPUs it was allowed.
    const bool moved = sched_setaffinity(0, sizeof(elsewhere), &elsewhere) == 0;
    sched_setaffinity(0, sizeof(allowed), &allowed);
    return moved;
}

void SetCurrentThreadName(const char* name) {
    if (name == nullptr) name = "";
    std::strncpy(t_threadName, name, sizeof(t_threadName) - 1);
    t_threadName[sizeof(t_threadName) - 1] = '\0';
    char kernelName[16];
    std::strncpy(kernelName, name, sizeof(kernelName) - 1);
    kernelName[sizeof(kernelName) - 1] = '\0';
    pthread_setname_np(pthread_self(), kernelName);
}

const char* CurrentThreadName() { return t_threadName; }

Thread::~Thread() { TerminateAndJoin(); }

void Thread::Resume() {
    std::lock_guard lock(m_Mutex);
    if (!m_Thread.joinable() && !m_Finished.load(std::memory_order_acquire)) {
        m_Suspended = false;
        m_Thread = std::thread(&Thread::Body, this);
        return;
    }
    if (m_Suspended) {
        m_Suspended = false;
        m_ResumeSignal.notify_all();
    }
}

void Thread::Suspend(const std::function<void()>& beforePark) {
    std::unique_lock lock(m_Mutex);
    m_Suspended = true;
    if (beforePark) beforePark();
    // Always a predicate loop: condition variables wake spuriously.
    m_ResumeSignal.wait(lock, [this] { return !m_Suspended; });
}

bool Thread::IsSuspended() const {
    std::lock_guard lock(m_Mutex);
    return m_Suspended;
}

bool Thread::Started() const { return ThreadId() != 0 || Finished(); }

void Thread::WaitFor() {
    std::thread toJoin;
    {
        std::lock_guard lock(m_Mutex);
        if (!m_Thread.joinable() || m_Thread.get_id() == std::this_thread::get_id()) return;
        toJoin = std::move(m_Thread);
    }
    toJoin.join();
}

void Thread::TerminateAndJoin() {
    Terminate();
    {
        std::lock_guard lock(m_Mutex);
        if (!m_Thread.joinable()) return;
        if (m_Suspended) {
            m_Suspended = false;
            m_ResumeSignal.notify_all();
        }
    }
    WaitFor();
}

void Thread::Body() {
    m_ThreadId.store(CurrentThreadId(), std::memory_order_release);
    Execute();
    m_Finished.store(true, std::memory_order_release);
}

}  // namespace plat
