// UserThread: ThreadManager's record of one registered worker. It owns the
// SingleThread object for the whole life of the record and keeps a live link
// to it that the thread's exit notification clears (on the worker thread)
// when its loop ends; the registry reads that link to tell live threads from
// ended ones. Destroying the record ends and joins the thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "infra/SingleThread.h"

class UserThread {
public:
    UserThread(std::string name, WorkCallback callback, void* context, bool comInit);
    ~UserThread();
    UserThread(const UserThread&) = delete;
    UserThread& operator=(const UserThread&) = delete;

    // The thread while its loop runs (or has not yet started); null once ended.
    SingleThread* GetThread() const { return m_Thread.load(std::memory_order_acquire); }
    const std::string& GetName() const { return m_Name; }
    WorkCallback GetWorkCallback() const { return m_WorkCallback; }
    void* GetContext() const { return m_Context; }
    bool GetComInit() const { return m_ComInit; }

private:
    static void OnThreadExit(void* context, int threadIndex);

    std::atomic<SingleThread*> m_Thread{nullptr};
    const std::string m_Name;
    const WorkCallback m_WorkCallback;
    void* const m_Context;
    const bool m_ComInit;
    // Kept after the loop ended so the object outlives its OS thread until joined.
    std::unique_ptr<SingleThread> m_OwnedThread;
};
