#include "infra/SingleThread.h"

#include <cstdint>
#include <utility>

#include "infra/CommonFunc.h"
#include "infra/Log.h"
#include "platform/CrashReporter.h"

SingleThread::SingleThread(std::string name, WorkCallback callback, void* context, bool comInit)
    : QXThread(std::move(name), comInit), m_WorkCallback(callback), m_Context(context) {}

SingleThread::~SingleThread() {
    // The loop must end before the members it uses go away.
    Terminate();
    Wake();
    TerminateAndJoin();
}

void SingleThread::OnInit() {
    LogLine(FormatText("%s  Sys start id = %d; Class Start ID = %d", NameText(), plat::CurrentThreadId(), ThreadId())
                .c_str());
    // COM does not exist on this platform; the flag is kept for the thread list
    // and for callers that ask GetComInit().
}

void SingleThread::OnUnInit() {}

WorkCallbackPair SingleThread::GetWorkCallback() const { return {m_WorkCallback, m_Context}; }

void SingleThread::Wake() {
    if (IIdleWait* wait = m_IdleWaitLink.load(std::memory_order_acquire)) {
        wait->Wake();
    } else {
        m_Sleep.Wake();
    }
}

void SingleThread::SetIdleWait(std::unique_ptr<IIdleWait> wait) {
    m_IdleWait = std::move(wait);
    m_IdleWaitLink.store(m_IdleWait.get(), std::memory_order_release);
}

void SingleThread::SetPollPartners(PollPartners* partners) {
    m_PollPartners = partners;
    m_PollSeat = partners != nullptr ? partners->TakeSeat() : -1;
}

void SingleThread::Execute() {
    plat::SetCurrentThreadName(NameText());
    // Registered workers pass packets along queues to one another; a refusal
    // only costs speed.
    plat::SetCurrentThreadHandOffScheduling();
    plat::CrashReporter::PrepareCurrentThread();
    try {
        SetState(tsIniting);
        OnInit();
        RunLoop();
        LogLine(FormatText("%s Thread Exit", NameText()).c_str());
        CallExitNotify();
        SetState(tsUnIniting);
    } catch (...) {
        ReportException(m_RunningCode);
    }
    SignalStopEvent();
    UnInitGuarded();
}

void SingleThread::RunLoop() {
    while (!Terminated()) {
        if (!IsRunEnabled()) {
            AcknowledgeStopAndPark();
        } else if (m_WorkCallback == nullptr) {
            m_Sleep.SleepFor(1);
        } else {
            RunWorkCall();
        }
    }
}

void SingleThread::RunWorkCall() {
    m_RunningCode = reinterpret_cast<const void*>(m_WorkCallback);
    const int result = m_WorkCallback(m_Context, GetIndex());
    m_RunningCode = nullptr;
    SampleCpu();
    if (result == 0) {
        NoteWork();
        if (m_IdleWait) m_IdleWait->WaitFor(0);
        SetState(tsBusy);
    } else if (result > 0) {
        m_IdleSinceWork = true;
        std::chrono::steady_clock::time_point now;
        if (Spinning(&now)) {
            if (m_IdleWait) m_IdleWait->WaitFor(0);
            if (m_PollPartners != nullptr) m_PollPartners->NotePollLook(m_PollSeat, now);
            // Between polls the CPU goes to any other runnable thread: a
            // busy-waiting worker would hold it from the very peer or
            // worker whose work it waits for (a pause instruction here
            // measured a quarter slower on two CPUs).
            plat::YieldToOtherThreads();
        } else if (m_IdleWait) {
            m_IdleWait->WaitFor(static_cast<uint32_t>(result));
        } else {
            m_Sleep.SleepFor(static_cast<uint32_t>(result));
        }
        SetState(tsNotBusy);
    } else if (result == -1) {
        SetState(tsTerminate);
        Terminate();
    }
}

void SingleThread::NoteWork() {
    const uint32_t spin = m_SpinMicros.load(std::memory_order_relaxed);
    if (spin == 0) return;
    const auto now = std::chrono::steady_clock::now();
    // Only a gap with an idle call in it counts: passes that follow one
    // another at once say nothing about how soon work comes after a lull.
    if (m_IdleSinceWork) m_IdleGaps.Note(now - m_LastWork <= std::chrono::microseconds(spin));
    m_IdleSinceWork = false;
    m_LastWork = now;
}

bool SingleThread::Spinning(std::chrono::steady_clock::time_point* now) {
    const uint32_t spin = m_SpinMicros.load(std::memory_order_relaxed);
    if (spin == 0 || !m_IdleGaps.PollPays()) return false;
    *now = std::chrono::steady_clock::now();
    return *now - m_LastWork < std::chrono::microseconds(spin);
}

void SingleThread::ReportException(const void* address) noexcept {
    // The loop is not resumed: the terminated flag makes Stop() return at once
    // and lets StopAll/ExitAll pass over this thread.
    SetState(tsExceptionError);
    Terminate();
    try {
        const std::string stack = LastExceptionStackText();
        GetLog()->LogError("%s %s %0x %s", NameText(), ExceptionCodeName(kCppTypedExceptionCode),
                           static_cast<unsigned>(reinterpret_cast<uintptr_t>(address)), stack.c_str());
    } catch (...) {
        // Nothing is left to report to when logging itself fails.
    }
}

void SingleThread::UnInitGuarded() noexcept {
    try {
        OnUnInit();
    } catch (...) {
        ReportException(nullptr);
    }
}
