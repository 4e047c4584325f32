#include "app/ServiceListView.h"

#include <string>

#include "ShareDefine/NetProcess.h"
#include "ShareDefine/ServerObj.h"
#include "platform/ListView.h"

namespace {

constexpr int kIpColumnWidth = 120;
constexpr int kRateColumnWidth = 210;  // "12.34 kb/s, total: 123.45 MB"
constexpr int kColumnWidth = 110;

int ColumnWidth(int column) {
    if (column == 0) return kIpColumnWidth;
    return (column == 2 || column == 3) ? kRateColumnWidth : kColumnWidth;
}

}  // namespace

const ServiceListView::Captions& ServiceListView::LoginServerCaptions() {
    static const Captions captions = {"IP", "积压封包", "从LoginServer接收", "发送到LoginServer",
                                      "RemainSendBuffLen(kB)", "CommitSendBuffLen(KB)", "IsSendPending",
                                      "IsWaitClose", "GetRecvIdleTime"};
    return captions;
}

const ServiceListView::Captions& ServiceListView::GameServerCaptions() {
    static const Captions captions = {"IP", "积压封包", "从GameServer接收", "发送到GameServer",
                                      "RemainSendBuffLen(KB)", "CommitSendBuffLen(KB)", "IsSendPending",
                                      "IsWaitClose", "GetRecvIdleTime"};
    return captions;
}

const ServiceListView::Captions& ServiceListView::RouteServerCaptions() {
    static const Captions captions = {"IP", "积压封包", "从Route接收", "发送到RouteServer",
                                      "RemainSendBuffLen(KB)", "CommitSendBuffLen(KB)", "IsSendPending",
                                      "IsWaitClose", "GetRecvIdleTime"};
    return captions;
}

ServiceListView::ServiceListView(INetProcess* service, plat::IListView* listView, const Captions& captions)
    : m_Service(service), m_ListView(listView), m_Captions(captions) {}

void ServiceListView::Prepare() {
    if (m_ListView == nullptr) return;
    m_ListView->ClearColumns();
    for (int column = 0; column < kColumnCount; ++column) {
        m_ListView->AddColumn(m_Captions[column], ColumnWidth(column));
    }
    m_ListView->SetRowSource([this](int index, plat::ListRow& row) { return FillRow(index, row); });
}

void ServiceListView::Refresh() {
    if (m_ListView == nullptr || m_Service == nullptr) return;
    m_ListView->SetItemCount(m_Service->GetServerObjCount());
    m_ListView->Repaint();
}

bool ServiceListView::FillRow(int index, plat::ListRow& row) const {
    if (m_Service == nullptr) return false;
    IServerObj* serverObj = m_Service->GetServerObj(index);
    if (serverObj == nullptr) return false;
    INetService* netService = m_Service->GetService();
    QXNetClient* client = netService != nullptr ? netService->GetClient(serverObj->GetPoolIndex()) : nullptr;

    row.caption = client != nullptr ? client->GetPeerIP() : "";
    row.subItems = {
        std::to_string(serverObj->GetSendQueueCount()),
        serverObj->GetRecvCounterText(),
        serverObj->GetSendCounterText(),
        std::to_string(client != nullptr ? client->GetRemainSendBuffLen() / 1024 : 0),
        std::to_string(client != nullptr ? client->GetCommitSendBuffLen() / 1024 : 0),
        std::to_string(client != nullptr ? client->IsSendPending() : 0),
        std::to_string(client != nullptr ? client->IsWaitClose() : 0),
        std::to_string(client != nullptr ? client->GetRecvIdleTime() : 0),
    };
    return true;
}
