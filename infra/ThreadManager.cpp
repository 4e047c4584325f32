#include "infra/ThreadManager.h"

#include "infra/CommonFunc.h"
#include "infra/Log.h"

ThreadManager& ThreadManager::Instance() {
    static ThreadManager instance;
    return instance;
}

ThreadManager::ThreadManager() = default;

ThreadManager::~ThreadManager() {
    // Threads signal their stop events until they are joined, so the records
    // go before the events do.
    m_Threads.Clear();
}

SingleThread* ThreadManager::AddThread(const std::string& name, WorkCallback callback, void* context,
                                       bool comInit) {
    auto* record = new UserThread(name, callback, context, comInit);
    SingleThread* thread = record->GetThread();
    thread->SetIndex(m_Threads.Count());
    m_Threads.Add(record);
    return thread;
}

QXThreadEvent* ThreadManager::CreateEvent(const std::string& name) {
    auto* event = new QXThreadEvent(name);
    m_Events.Add(event);
    return event;
}

void ThreadManager::StartAll() {
    for (UserThread* record : m_Threads) {
        SingleThread* thread = record->GetThread();
        // A thread whose loop has ended is not restarted.
        if (thread == nullptr) continue;
        LogLine(FormatText("Starting thread : %s...", record->GetName().c_str()).c_str());
        // Cleared before the resume, or the worker would see the old request and park again.
        thread->ClearStop();
        thread->Resume();
        LogLine(FormatText("Starting thread : %s OK! CurrentThreadID = %d", record->GetName().c_str(),
                           plat::CurrentThreadId())
                    .c_str());
    }
}

void ThreadManager::StopAll() {
    ReleaseFreeEvents();
    for (UserThread* record : m_Threads) {
        SingleThread* thread = record->GetThread();
        if (thread == nullptr) continue;
        // A never-started or parked thread must run to acknowledge the stop.
        if (thread->IsSuspended()) thread->Resume();
        thread->Stop();
    }
    LogLine("All Thread Stopped");
}

void ThreadManager::ExitAll() {
    ReleaseFreeEvents();
    for (UserThread* record : m_Threads) {
        SingleThread* thread = record->GetThread();
        if (thread == nullptr) continue;
        LogLine(FormatText("%s Thread Prepare Exit", record->GetName().c_str()).c_str());
        thread->Terminate();
        // A worker sleeping between calls would otherwise keep the join waiting.
        thread->Wake();
        if (thread->IsSuspended()) thread->Resume();
        thread->WaitFor();
    }
    LogLine("All Thread Exit OK!");
    m_Threads.Clear();
}

int ThreadManager::GetCount() const { return m_Threads.Count(); }

SingleThread* ThreadManager::GetThread(int index) const {
    const UserThread* record = m_Threads.Get(index);
    return record != nullptr ? record->GetThread() : nullptr;
}

void ThreadManager::ReleaseFreeEvents() {
    for (QXThreadEvent* event : m_Events) {
        if (event->IsOwnedByThread()) continue;
        event->Set();
        event->SetEnabled(false);
    }
}
