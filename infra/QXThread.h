// QXThread: the base of every worker thread of the server, a platform thread
// with a name, a registry index, a state shown in the thread list, a stop
// handshake and a per-thread CPU share. Created suspended; ThreadManager
// (window thread) starts, stops and ends it. The stop event is owned by
// ThreadManager's event list; the thread keeps a raw link to it.
//
// Threads: Stop(), ClearStop() and SetIndex() run on the controlling thread;
// the state, the usage values and the stop request are written by one side
// and read by the other without locks (atomics); the CPU sample fields are
// touched by the worker only.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/Thread.h"

class QXThreadEvent;

// A worker: called in a loop with its context and the thread index. Returns
// 0 to be called again at once, n > 0 to sleep n ms first, -1 to end the
// thread; any other negative value is called again at once, state unchanged.
using WorkCallback = int (*)(void* context, int threadIndex);
// Called once on the worker thread when its loop has ended.
using ExitNotifyCallback = void (*)(void* context, int threadIndex);

struct WorkCallbackPair {
    WorkCallback callback = nullptr;
    void* context = nullptr;
};

struct ExitNotifyPair {
    ExitNotifyCallback callback = nullptr;
    void* context = nullptr;
};

enum ThreadState : int32_t {
    tsSuspended = 0,
    tsNotBusy = 1,
    tsBusy = 2,
    tsIniting = 3,
    tsUnIniting = 4,
    tsTerminate = 5,
    tsExceptionError = 6,
};

// Text of a state as the thread list shows it.
const char* ThreadStateText(int32_t state);

class QXThread : public plat::Thread {
public:
    QXThread(std::string name, bool comInit);
    ~QXThread() override;

    virtual void OnInit() {}
    virtual void OnUnInit() {}
    virtual bool IsRunEnabled() const;
    virtual void SetIndex(int index);
    virtual bool GetComInit() const;
    virtual std::string GetName() const;
    virtual std::string GetStateText() const;
    virtual int GetIndex() const;
    virtual WorkCallbackPair GetWorkCallback() const;
    // Blocking handshake: asks the worker to park and waits until it has.
    virtual void Stop();
    virtual void ClearStop();
    virtual int GetCpuUsage() const;
    virtual int GetKernelCpuUsage() const;
    virtual void SetExtraText(const std::string& text);
    virtual std::string GetExtraText() const;

    int32_t GetState() const { return m_State.load(std::memory_order_acquire); }
    // Set before the thread is started.
    void SetExitNotify(ExitNotifyCallback callback, void* context);

protected:
    void Execute() override {}
    void SetState(int32_t state) { m_State.store(state, std::memory_order_release); }
    // Worker side of the stop handshake: state 0, signal the controller, park.
    void AcknowledgeStopAndPark();
    // Releases a Stop() that raced with the end of the loop.
    void SignalStopEvent();
    // Called by Stop() once the request is visible: a worker that sleeps
    // between calls must end its sleep to see it.
    virtual void OnStopRequested() {}
    void CallExitNotify();
    // Once per second at most, updates the CPU shares from the calling
    // thread's and the process's CPU times; the first sample only primes.
    void SampleCpu();
    const char* NameText() const { return m_Name.c_str(); }

private:
    QXThreadEvent* const m_StopEvent;  // owned by ThreadManager's event list
    const bool m_ComInit;
    const std::string m_Name;
    std::atomic<int32_t> m_State{tsSuspended};
    std::atomic<int32_t> m_Index{-1};
    std::atomic<bool> m_StopRequested{false};
    uint64_t m_PrevProcessKernel = 0;  // 100 ns units
    uint64_t m_PrevProcessUser = 0;
    uint64_t m_PrevThreadKernel = 0;
    uint64_t m_PrevThreadUser = 0;
    uint32_t m_LastSampleTick = 0;  // ms tick; 0 = never sampled
    std::atomic<int32_t> m_CpuUsage{0};
    std::atomic<int32_t> m_KernelCpuUsage{0};
    ExitNotifyPair m_ExitNotify;
};
