#include "infra/UserThread.h"

#include <utility>

UserThread::UserThread(std::string name, WorkCallback callback, void* context, bool comInit)
    : m_Name(std::move(name)),
      m_WorkCallback(callback),
      m_Context(context),
      m_ComInit(comInit),
      m_OwnedThread(std::make_unique<SingleThread>(m_Name, callback, context, comInit)) {
    // The record outlives its thread (the destructor joins it first), so the
    // thread may call back into it until its body returns.
    m_OwnedThread->SetExitNotify(&UserThread::OnThreadExit, this);
    m_Thread.store(m_OwnedThread.get(), std::memory_order_release);
}

UserThread::~UserThread() {
    // Joined before the link the exit notification writes goes away.
    m_OwnedThread.reset();
}

void UserThread::OnThreadExit(void* context, int) {
    static_cast<UserThread*>(context)->m_Thread.store(nullptr, std::memory_order_release);
}
