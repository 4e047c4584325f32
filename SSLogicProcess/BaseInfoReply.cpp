#include "SSLogicProcess/BaseInfoReply.h"

#include <algorithm>
#include <array>
#include <vector>

#include "SSLogicProcess/ProcessMetrics.h"
#include "SSLogicProcess/SSLogicProcess.h"
#include "SSLogicProcess/StatusRecords.h"
#include "core/ServerCore.h"
#include "infra/Log.h"

namespace {

using status::MakeInfoKey;

constexpr int kStatisticCount = 38;

struct ServiceGroup {
    INetProcess* service;
    int group;
};

// The three listening services in the order the reply lists them.
std::array<ServiceGroup, 3> ServiceGroups(CServerCore* core) {
    return {{{core->GetGameServerCore(), status::igGameServer},
             {core->GetRouteServerCore(), status::igRouteServer},
             {core->GetLoginServerCore(), status::igLoginServer}}};
}

class EntryWriter {
public:
    EntryWriter(status::tagSVCBaseInfoReply& reply, int serverIndex, int serverType)
        : m_Reply(reply), m_ServerIndex(serverIndex), m_ServerType(serverType) {}

    uint32_t Key(int id, int group, int item) const { return MakeInfoKey(id, group, item, m_ServerType); }
    uint32_t Key(int id, int group) const { return Key(id, group, m_ServerIndex); }

    void Process(const ProcessMetrics& metrics) {
        m_Reply.AddSigned(Key(56, status::igProcess), metrics.cpuPercent);
        m_Reply.AddNum(Key(57, status::igProcess), metrics.workingSetBytes);
        m_Reply.AddNum(Key(58, status::igProcess), metrics.pageFileBytes);
        LogService* log = GetLog();
        if (log->GetErrorCount() > 0 || log->GetErrorCountAlt() > 0) {
            m_Reply.AddText(Key(60, status::igProcess), "C++ Error;LastErrorTime:" + log->GetLastErrorTime());
        }
        if (log->GetFatalCount() > 0 || log->GetFatalCountAlt() > 0) {
            m_Reply.AddText(Key(61, status::igProcess), "C++ Fatal;LastFatalTime:" + log->GetLastFatalTime());
        }
        m_Reply.AddSigned(Key(62, status::igProcess), MMORPG::MMORPGPacket::m_MaxCount.load());
        m_Reply.AddSigned(Key(63, status::igProcess), MMORPG::MMORPGPacket::m_Count.load());
    }

    void Service(INetProcess& service, int group) {
        m_Reply.AddText(Key(90, group), service.GetRecvCounterText());
        m_Reply.AddText(Key(91, group), service.GetSendCounterText());
        m_Reply.AddSigned(Key(92, group), service.GetRecvCounterValue());
        m_Reply.AddSigned(Key(93, group), service.GetSendCounterValue());
        // Server objects outlive their peers, so only the online ones are
        // reported, in slot order.
        std::vector<IServerObj*> online;
        const int count = service.GetOnlineCount();
        for (int i = 0; i < count; ++i) {
            if (IServerObj* connection = service.GetOnlineServerObj(i)) online.push_back(connection);
        }
        std::sort(online.begin(), online.end(),
                  [](IServerObj* a, IServerObj* b) { return a->GetPoolIndex() < b->GetPoolIndex(); });
        for (IServerObj* connection : online) Connection(*connection, group, connection->GetPoolIndex());
    }

    void Connection(IServerObj& connection, int group, int slot) {
        m_Reply.AddText(Key(94, group, slot), connection.GetPeerIP());
        m_Reply.AddText(Key(95, group, slot), connection.GetRecvCounterText());
        m_Reply.AddText(Key(96, group, slot), connection.GetSendCounterText());
        m_Reply.AddSigned(Key(97, group, slot), connection.GetSendQueueCount());
        m_Reply.AddSigned(Key(98, group, slot), connection.GetRecvCounterValue());
        m_Reply.AddSigned(Key(99, group, slot), connection.GetSendCounterValue());
        m_Reply.AddSigned(Key(100, group, slot), static_cast<int32_t>(connection.GetRemainSendBuffLen()));
        m_Reply.AddSigned(Key(101, group, slot), static_cast<int32_t>(connection.GetCommitSendBuffLen()));
        m_Reply.AddUnsigned(Key(102, group, slot), static_cast<uint32_t>(connection.IsSendPending()));
        m_Reply.AddUnsigned(Key(103, group, slot), static_cast<uint32_t>(connection.IsWaitClose()));
        m_Reply.AddUnsigned(Key(104, group, slot), connection.GetRecvIdleTime());
    }

    void DataServerLink(DataServerCore& link) {
        const int group = status::igDataServer;
        m_Reply.AddText(Key(94, group), link.GetConnectHost());
        m_Reply.AddText(Key(95, group), link.GetRecvCounter().GetRateText());
        m_Reply.AddText(Key(96, group), link.GetSendCounter().GetRateText());
        m_Reply.AddSigned(Key(97, group), link.GetSendQueueCount());
        m_Reply.AddSigned(Key(98, group), link.GetRecvCounter().GetByteRate());
        m_Reply.AddSigned(Key(99, group), link.GetSendCounter().GetByteRate());
    }

    void Statistics(INetProcess& service, int group) {
        INetService* net = service.GetService();
        for (int id = 0; id < kStatisticCount; ++id) {
            m_Reply.AddNum(Key(id, group), net != nullptr ? net->GetValue(id) : 0);
        }
    }

    // Ids 46 to 49: the limits the window applied from the settings, read
    // back from the service (parameters 5, 7, 6 and 8), since the settings
    // file belongs to the window thread.
    void Limits(INetProcess& service, int group) {
        INetService* net = service.GetService();
        constexpr int kParamOfId[] = {5, 7, 6, 8};
        for (int i = 0; i < 4; ++i) {
            const int value = net != nullptr ? net->GetParam(kParamOfId[i]) : 0;
            m_Reply.AddUnsigned(Key(46 + i, group), static_cast<uint32_t>(value));
        }
    }

private:
    status::tagSVCBaseInfoReply& m_Reply;
    int m_ServerIndex;
    int m_ServerType;
};

}  // namespace

void AddBaseInfoEntries(status::tagSVCBaseInfoReply& reply, CServerCore* core, int serverIndex, int serverType) {
    EntryWriter writer(reply, serverIndex, serverType);
    writer.Process(GetProcessMetrics());
    for (const ServiceGroup& entry : ServiceGroups(core)) writer.Service(*entry.service, entry.group);
    writer.DataServerLink(*core->GetDataServerCore());
    for (const ServiceGroup& entry : ServiceGroups(core)) writer.Statistics(*entry.service, entry.group);
    for (const ServiceGroup& entry : ServiceGroups(core)) writer.Limits(*entry.service, entry.group);
}

bool BuildBaseInfoReply(MMORPG::MMORPGPacket* request, CServerCore* core, CSSLogicProcess* link) {
    if (request == nullptr || core == nullptr || link == nullptr) return true;
    status::tagSVCBaseInfoReply reply;
    AddBaseInfoEntries(reply, core, link->GetServerIndex(), link->GetServerType());
    const std::string head = status::EncodeHead(status::StatusHead(request->m_PackHead.DestIndex));
    const std::string record = reply.Encode();
    link->SendPack(head.data(), static_cast<int>(head.size()), record.data(), static_cast<int>(record.size()));
    return true;
}
