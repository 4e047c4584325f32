// SingleThread: a QXThread that drives one WorkCallback in a loop until the
// callback returns -1 or the thread is told to end. Created suspended by
// ThreadManager::AddThread and owned by its UserThread record; it never frees
// itself. Its sleeps between work calls can be cut short from any thread with
// Wake(), so a producer can hand it work without waiting out the sleep.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "infra/IWakeable.h"
#include "infra/IdleGapScore.h"
#include "infra/PollPartners.h"
#include "infra/QXThread.h"
#include "platform/WakeableSleep.h"

class SingleThread : public QXThread, public IWakeable {
public:
    SingleThread(std::string name, WorkCallback callback, void* context, bool comInit);
    ~SingleThread() override;

    void OnInit() override;
    void OnUnInit() override;
    WorkCallbackPair GetWorkCallback() const override;

    // Ends the current sleep of the worker early; a wake while it is not
    // sleeping makes its next sleep return at once. Any thread, never blocks.
    void Wake() override;

    // Replaces the sleep between work calls with `wait`, which also gets a
    // turn after every busy call (WaitFor(0)). Set before the thread is
    // first resumed.
    void SetIdleWait(std::unique_ptr<IIdleWait> wait);

    // After a call that found work, a call that finds none does not sleep
    // until this many microseconds have passed since the work: the loop
    // polls its sources (the callback, and the idle wait without waiting)
    // instead, yielding the CPU between polls, so work that follows closely
    // is taken without a sleep and a wake-up. It polls only while its recent
    // idle gaps were mostly no longer than this (IdleGapScore), so a worker
    // whose work comes now and then sleeps at once. 0 (the default) always
    // sleeps at once. Any thread.
    void SetSpinMicros(uint32_t micros) { m_SpinMicros.store(micros, std::memory_order_relaxed); }
    // Joins the group of workers whose polls should not share a CPU (not
    // owned; must outlive the thread's loop). Set before the thread is
    // first resumed.
    void SetPollPartners(PollPartners* partners);

protected:
    // The run loop; exceptions that escape a callback end the thread with an
    // Error-level log line and state "Exception Error".
    void Execute() override;
    void OnStopRequested() override { Wake(); }

private:
    void RunLoop();
    void RunWorkCall();
    // A call found work: scores the idle gap that it ended.
    void NoteWork();
    // True while the bounded poll after the last work is still running;
    // *now is the time it was judged at.
    bool Spinning(std::chrono::steady_clock::time_point* now);
    void ReportException(const void* address) noexcept;
    void UnInitGuarded() noexcept;

    const WorkCallback m_WorkCallback;
    void* const m_Context;
    plat::WakeableSleep m_Sleep;
    std::unique_ptr<IIdleWait> m_IdleWait;
    std::atomic<IIdleWait*> m_IdleWaitLink{nullptr};  // m_IdleWait, for wakes from other threads
    std::atomic<uint32_t> m_SpinMicros{0};
    // Worker thread only: when the last work call ended, whether a call
    // found nothing since, and how the recent idle gaps went.
    std::chrono::steady_clock::time_point m_LastWork{};
    bool m_IdleSinceWork = false;
    IdleGapScore m_IdleGaps;
    PollPartners* m_PollPartners = nullptr;
    int m_PollSeat = -1;
    // Callback running when an exception escaped, for the report's address.
    const void* m_RunningCode = nullptr;
};
