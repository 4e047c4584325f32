// ThreadManager: the process-wide registry of worker threads. It owns the
// UserThread records (and through them the threads) and every QXThreadEvent.
// Threads are registered suspended during start-up and are started, stopped
// and finally ended together, in registration order.
//
// Every operation is called from the window thread only (registration,
// start/stop control, the thread list's refresh); the lists take no lock.
#pragma once

#include <string>

#include "infra/AList.h"
#include "infra/QXThreadEvent.h"
#include "infra/SingleThread.h"
#include "infra/UserThread.h"

class ThreadManager {
public:
    static ThreadManager& Instance();

    ThreadManager(const ThreadManager&) = delete;
    ThreadManager& operator=(const ThreadManager&) = delete;

    // Registers a suspended worker whose index is the number registered
    // before it. Returns the thread (owned by the registry) so that a
    // producer can Wake() it.
    SingleThread* AddThread(const std::string& name, WorkCallback callback, void* context, bool comInit);
    // A manual-reset, not signalled event kept in (and owned by) the registry.
    QXThreadEvent* CreateEvent(const std::string& name);

    // Clears each thread's stop request and resumes it.
    void StartAll();
    // Parks every live thread with the stop handshake; returns when all have
    // acknowledged. Events not owned by a thread are released for good.
    void StopAll();
    // Ends and joins every live thread, then drops all records.
    void ExitAll();

    int GetCount() const;
    // Null for a bad index or a thread whose loop has ended.
    SingleThread* GetThread(int index) const;

private:
    ThreadManager();
    ~ThreadManager();

    void ReleaseFreeEvents();

    AList<UserThread> m_Threads{true, 10};
    AList<QXThreadEvent> m_Events{true, 10};
};
