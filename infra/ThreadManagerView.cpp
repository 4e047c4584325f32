#include "infra/ThreadManagerView.h"

#include "infra/ThreadManager.h"

ThreadManagerView& ThreadManagerView::Instance() {
    static ThreadManagerView view(ThreadManager::Instance());
    return view;
}

ThreadManagerView::ThreadManagerView(const ThreadManager& manager) : m_Manager(manager) {}

const std::array<const char*, ThreadManagerView::kColumnCount>& ThreadManagerView::ColumnCaptions() {
    static const std::array<const char*, kColumnCount> captions = {
        "Thread Name", "Thread ID", "CPU Useage", "Kernel CPU Useage", "Thread State",
    };
    return captions;
}

int ThreadManagerView::GetRowCount() const { return m_Manager.GetCount(); }

ThreadViewRow ThreadManagerView::GetRow(int index) const {
    const SingleThread* thread = m_Manager.GetThread(index);
    if (thread == nullptr) return {"ERROR", {}};
    return {thread->GetName(),
            {std::to_string(thread->ThreadId()), std::to_string(thread->GetCpuUsage()),
             std::to_string(thread->GetKernelCpuUsage()), thread->GetStateText()}};
}
