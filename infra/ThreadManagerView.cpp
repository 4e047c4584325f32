#include "infra/ThreadManagerView.h"

#include "infra/ThreadManager.h"
#include "platform/ListView.h"

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

void ThreadManagerView::Attach(plat::IListView* listView) {
    m_ListView = listView;
    if (listView == nullptr) return;
    listView->ClearColumns();
    for (const char* caption : ColumnCaptions()) listView->AddColumn(caption, kColumnWidth);
    listView->SetRowSource([this](int index, plat::ListRow& row) {
        ThreadViewRow texts = GetRow(index);
        row.caption = std::move(texts.caption);
        row.subItems = std::move(texts.subItems);
        return true;
    });
}

void ThreadManagerView::Refresh() {
    if (m_ListView == nullptr) return;
    m_ListView->SetItemCount(GetRowCount());
    m_ListView->Repaint();
}
