#include "infra/QXThread.h"

#include "infra/CommonFunc.h"
#include "infra/Log.h"
#include "infra/QXThreadEvent.h"
#include "infra/ThreadManager.h"
#include "platform/CpuTimes.h"
#include "platform/Tick.h"

namespace {

constexpr uint32_t kCpuSampleIntervalMs = 1000;

int32_t Percent(uint64_t part, uint64_t whole) {
    const double ratio = whole > 0 ? static_cast<double>(part) / static_cast<double>(whole) : 0.0;
    return static_cast<int32_t>(ratio * 100.0);
}

}  // namespace

const char* ThreadStateText(int32_t state) {
    switch (state) {
        case tsSuspended: return "Suspended";
        case tsNotBusy: return "Not Busy :)";
        case tsBusy: return "Busy";
        case tsIniting: return "Initing..";
        case tsUnIniting: return "UnIniting...";
        case tsTerminate: return "Terminate!";
        case tsExceptionError: return "Exception Error";
        default: return "QXThread UnDefined State";
    }
}

QXThread::QXThread(std::string name, bool comInit)
    : m_StopEvent(ThreadManager::Instance().CreateEvent("")), m_ComInit(comInit), m_Name(std::move(name)) {
    m_StopEvent->SetOwnedByThread(true);
}

// A QXThread whose body is still running must not lose its members under it.
QXThread::~QXThread() { TerminateAndJoin(); }

bool QXThread::IsRunEnabled() const { return !m_StopRequested.load(std::memory_order_acquire); }

void QXThread::SetIndex(int index) { m_Index.store(index, std::memory_order_release); }

bool QXThread::GetComInit() const { return m_ComInit; }

std::string QXThread::GetName() const { return m_Name; }

std::string QXThread::GetStateText() const { return ThreadStateText(GetState()); }

int QXThread::GetIndex() const { return m_Index.load(std::memory_order_acquire); }

WorkCallbackPair QXThread::GetWorkCallback() const { return {}; }

void QXThread::Stop() {
    if (Terminated()) return;
    // The flag goes first: the worker signals only after it has seen it.
    m_StopRequested.store(true, std::memory_order_release);
    OnStopRequested();
    LogLine(FormatText("%s Stopping...", NameText()).c_str());
    m_StopEvent->Wait(plat::kInfinite);
    m_StopEvent->Reset();
    LogLine(FormatText("%s Stopp OK", NameText()).c_str());
}

void QXThread::ClearStop() { m_StopRequested.store(false, std::memory_order_release); }

int QXThread::GetCpuUsage() const { return m_CpuUsage.load(std::memory_order_acquire); }

int QXThread::GetKernelCpuUsage() const { return m_KernelCpuUsage.load(std::memory_order_acquire); }

void QXThread::SetExtraText(const std::string&) {}

std::string QXThread::GetExtraText() const { return {}; }

void QXThread::SetExitNotify(ExitNotifyCallback callback, void* context) { m_ExitNotify = {callback, context}; }

void QXThread::AcknowledgeStopAndPark() {
    GetLog()->LogWarn("%s Thread Stop", NameText());
    // Runs once the thread counts as suspended, so the Resume() of a StartAll
    // that follows StopAll at once is never lost; the state is set before the
    // signal so that StopAll returns with every thread showing "Suspended".
    Suspend([this] {
        SetState(tsSuspended);
        m_StopEvent->Set();
    });
}

void QXThread::SignalStopEvent() { m_StopEvent->Set(); }

void QXThread::CallExitNotify() {
    if (m_ExitNotify.callback != nullptr) m_ExitNotify.callback(m_ExitNotify.context, GetIndex());
}

void QXThread::SampleCpu() {
    const uint32_t now = plat::GetCoarseTickMs();
    if (m_LastSampleTick != 0 && now - m_LastSampleTick < kCpuSampleIntervalMs) return;
    plat::CpuTimes process;
    plat::CpuTimes thread;
    if (!plat::GetProcessCpuTimes(process) || !plat::GetCurrentThreadCpuTimes(thread)) return;
    const bool primed = m_LastSampleTick != 0 && m_PrevProcessKernel != 0 && m_PrevProcessUser != 0;
    const uint64_t dPK = process.kernel100ns - m_PrevProcessKernel;
    const uint64_t dPU = process.user100ns - m_PrevProcessUser;
    const uint64_t dTK = thread.kernel100ns - m_PrevThreadKernel;
    const uint64_t dTU = thread.user100ns - m_PrevThreadUser;
    m_PrevProcessKernel = process.kernel100ns;
    m_PrevProcessUser = process.user100ns;
    m_PrevThreadKernel = thread.kernel100ns;
    m_PrevThreadUser = thread.user100ns;
    m_LastSampleTick = now;
    if (!primed) return;
    m_CpuUsage.store(Percent(dTK + dTU, dPK + dPU), std::memory_order_release);
    m_KernelCpuUsage.store(Percent(dTK, dPK + dPU), std::memory_order_release);
}
