#include "ShareDefine/NetProcess.h"

#include <algorithm>

#include "infra/Log.h"
#include "infra/SourceLocation.h"
#include "platform/LastError.h"
#include "platform/Tick.h"
#include "infra/HexDump.h"
#include "ShareDefine/MMORPGPacketPool.h"
#include "ShareDefine/NetErrorText.h"
#include "ShareDefine/NetLibAdapters.h"

INetProcess::INetProcess(PacketQueue* targetQueue)
    : m_Service(GetQXNetServiceInstance(0)), m_TargetQueue(targetQueue) {
    if (m_Service != nullptr) m_Service->SetParam(kParamMaxSendBufferBytes, kMaxSendBufferBytes);
}

INetProcess::~INetProcess() {
    for (MMORPG::MMORPGPacket* packet : m_DispCarry) FreePacket(packet);
    if (m_Service != nullptr) {
        if (m_Service->IsListening()) StopService();
        m_Service->SetMsgNotify(nullptr, nullptr);
        m_Service->Release();
        m_Service = nullptr;
    }
}

bool INetProcess::StartService(uint16_t port, int count) {
    m_Running = true;
    return m_Service != nullptr && m_Service->StartListen(port, count);
}

void INetProcess::StopService() {
    m_Running = false;
    if (m_Service != nullptr) m_Service->StopListen();
}

bool INetProcess::IsListening() { return m_Service != nullptr && m_Service->IsListening(); }

int INetProcess::GetRecvCounterValue() { return m_RecvCounter.GetByteRate(); }

int INetProcess::GetSendCounterValue() { return m_SendCounter.GetByteRate(); }

std::string INetProcess::GetRecvCounterText() { return m_RecvCounter.GetRateText(); }

std::string INetProcess::GetSendCounterText() {
    const double sentKb = m_Service ? static_cast<double>(m_Service->GetValue(NETVALUE_SEND_TOTAL_BYTE)) / 1024 : 0.0;
    const double commitKb =
        m_Service ? static_cast<double>(m_Service->GetValue(NETVALUE_COMMIT_SEND_TOTALBYTE)) / 1024 : 0.0;
    char text[256];
    std::snprintf(text, sizeof(text), "%s(%0.2f kb)(Commit:%0.2f kb)", m_SendCounter.GetRateText().c_str(), sentKb,
                  commitKb);
    return text;
}

int INetProcess::GetServiceOnlineCount() { return m_Service ? m_Service->GetOnlineCount() : 0; }

void INetProcess::PushDisp(MMORPG::MMORPGPacket* packet) { m_DispQueue.Push(packet); }

IServerObj* INetProcess::GetServerObj(int index) {
    std::lock_guard lock(m_ServerObjsLock);
    return m_ServerObjs.Get(index);
}

int INetProcess::GetServerObjCount() {
    std::lock_guard lock(m_ServerObjsLock);
    return m_ServerObjs.Count();
}

int INetProcess::GetOnlineCount() {
    std::lock_guard lock(m_OnlineLock);
    return m_OnlineClients.Count();
}

IServerObj* INetProcess::GetOnlineServerObj(int index) {
    std::lock_guard lock(m_OnlineLock);
    if (index < 0 || index >= m_OnlineClients.Count()) return nullptr;
    return m_OnlineClients.ValueAt(index);
}

void INetProcess::SetWakeTarget(IWakeable* target) {
    m_WakeTarget = target;
    m_DispQueue.SetWakeTarget(target);
    {
        std::lock_guard lock(m_ServerObjsLock);
        for (IServerObj* serverObj : m_ServerObjs) serverObj->SetWakeTarget(target);
    }
    if (m_Service != nullptr) m_Service->SetMsgNotify(target ? &INetProcess::OnServiceMsgThunk : nullptr, this);
}

bool INetProcess::UseIoDriver(INetIoDriver* driver) {
    return m_Service != nullptr && m_Service->SetIoDriver(driver);
}

void INetProcess::OnServiceMsgThunk(void* context) {
    if (IWakeable* target = static_cast<INetProcess*>(context)->m_WakeTarget) target->Wake();
}

void INetProcess::SetServiceParam(int id, int value) {
    if (m_Service != nullptr) m_Service->SetParam(id, value);
}

void INetProcess::AddServerObj(QXNetClient* client, std::unique_ptr<IServerObj> serverObj) {
    serverObj->SetWakeTarget(m_WakeTarget);
    serverObj->SetLogLimiter(&m_LogLimiter);
    serverObj->SetPacketTotals(&m_PacketTotals);
    if (client != nullptr) client->BindUserObj(serverObj.get());
    std::lock_guard lock(m_ServerObjsLock);
    m_ServerObjs.Add(serverObj.release());
}

void INetProcess::WriteDueLogSummaries() {
    const uint32_t now = plat::GetCoarseTickMs();  // read on every pass: the cheap clock
    if (now - m_LastSummaryCheck < 1000) return;
    m_LastSummaryCheck = now;
    for (const std::string& line : m_LogLimiter.TakeDue()) GetLog()->LogWarn("%s", line.c_str());
}

void INetProcess::ProcessNetMsg() {
    m_MsgPassCut = false;
    if (m_Service == nullptr) return;
    WriteDueLogSummaries();
    tagNetMsg msg;
    int taken = 0;
    while (m_Service->GetMsg(&msg)) {
        m_FoundWork = true;
        bool goOn = true;
        switch (msg.msgType) {
            case NET_MSG_ON_RECV:
                goOn = OnMsgRecv(msg.poolIndex, msg.data, msg.dataLen);
                taken += msg.dataLen;
                break;
            case NET_MSG_ON_CLIENTCONNECT:
                goOn = OnMsgConnect(msg.poolIndex);
                break;
            case NET_MSG_ON_CLIENTDISCONNECT:
            case NET_MSG_ON_CONNECT_ERROR:
            case NET_MSG_ON_CLIENTCLOSE:
                goOn = OnMsgDisconnect(msg.poolIndex, msg.msgType, msg.param);
                break;
            case NET_MSG_ON_CLIENTNOTIFY:
                goOn = OnMsgNotify(msg.poolIndex);
                break;
            case NET_MSG_ON_CLIENTCREATE:
                goOn = OnMsgCreate(msg.poolIndex);
                break;
            default:
                break;  // other kinds are consumed and ignored
        }
        if (!goOn || (m_PassBudgetBytes > 0 && taken >= m_PassBudgetBytes)) {
            m_MsgPassCut = true;
            return;
        }
    }
}

bool INetProcess::OnMsgRecv(int poolIndex, const char* data, int len) {
    if (len < 0 || len > kNetMsgDataSize) len = 0;
    m_RecvCounter.AddBytes(static_cast<uint32_t>(len));
    QXNetClient* client = m_Service->GetClient(poolIndex);
    if (client == nullptr) return false;
    OnRecvData(m_Service, client, data, len);
    return true;
}

bool INetProcess::OnMsgConnect(int poolIndex) {
    QXNetClient* client = m_Service->GetClient(poolIndex);
    if (client == nullptr) {
        GetLog()->LogWarn("NET_MSG_ON_CLIENTCONNECT curQXNetClient == NULL");
        return false;
    }
    auto* serverObj = static_cast<IServerObj*>(client->GetUserObj());
    if (serverObj == nullptr) {
        GetLog()->LogWarn("NET_MSG_ON_CLIENTCONNECT curServerObj == NULL");
        return false;
    }
    if (IsOnline(serverObj)) {
        // The slot's previous connection was never cleared: refuse the new
        // one rather than mix the two peers' traffic.
        m_Service->CloseClient(poolIndex);
        GetLog()->LogDebug(
            "如果客户端连接上来, 这个时候此信道的内容还未清空, 那么断开这个连接, 当前socketID = %d, poolIndex = %d",
            client->GetSocket(), poolIndex);
        return false;
    }
    serverObj->ResetObj();
    if (!AddOnline(serverObj)) {
        GetLog()->LogWarn("NET_MSG_ON_CLIENTCONNECT m_OnlineClients.AddEx Fail");
        return false;
    }
    OnConnected(m_Service, client);
    return true;
}

bool INetProcess::OnMsgDisconnect(int poolIndex, int kind, int param) {
    QXNetClient* client = m_Service->GetClient(poolIndex);
    if (client == nullptr) {
        GetLog()->LogWarn("NET_MSG_ON_CONNECT_ERROR curQXNetClient == NULL");
        return false;
    }
    if (kind == NET_MSG_ON_CLIENTCLOSE && param != 0) LogLimitClose(client, param);
    auto* serverObj = static_cast<IServerObj*>(client->GetUserObj());
    if (serverObj != nullptr && IsOnline(serverObj)) {
        serverObj->ResetObj();
        RemoveOnline(serverObj);
        OnDisconnected(m_Service, client);
    }
    return true;
}

void INetProcess::LogLimitClose(QXNetClient* client, int statistic) {
    const char* reason = statistic == NETVALUE_FIND_HACKER_KICK_OUT
                             ? "more data records per second than HackAttackValue (statistic 25)"
                             : "unsent bytes or queued messages over the send bounds (statistic 22)";
    const char* ip = client->GetPeerIP() != nullptr ? client->GetPeerIP() : "";
    const LogRepeatLimiter::Verdict verdict = m_LogLimiter.Admit(ip, "closed by the network service");
    if (!verdict.summary.empty()) GetLog()->LogWarn("%s", verdict.summary.c_str());
    if (!verdict.write) return;
    GetLog()->LogWarn("%s(poolIndex = %d, IP = %s:%u) closed by the network service: %s", m_Name.c_str(),
                      client->GetPoolIndex(), ip, static_cast<unsigned>(client->GetPeerPort()), reason);
}

bool INetProcess::OnMsgNotify(int poolIndex) {
    QXNetClient* client = m_Service->GetClient(poolIndex);
    if (client == nullptr) return false;
    OnClientNotify(m_Service, client);
    return true;
}

bool INetProcess::OnMsgCreate(int poolIndex) {
    QXNetClient* client = m_Service->GetClient(poolIndex);
    if (client == nullptr) return false;
    CreateServerObj(m_Service, client);
    return true;
}

void INetProcess::SendAll() {
    while (ThreadDispToAllClient()) {
        m_FoundWork = true;
    }
    while (SendPass()) {
        m_FoundWork = true;
    }
}

bool INetProcess::ThreadDispToAllClient() {
    // Taken a batch at a time, so the process thread meets the dispatch
    // thread on the queue's lock and count once per batch. A pass still
    // stops at a packet it cannot deliver; the rest of its batch waits for
    // the next pass, ahead of the queue.
    MMORPG::MMORPGPacket* batch[kDispBatch];
    int taken = TakeCarried(batch);
    if (taken == 0) {
        if (m_DispQueue.Count() == 0) return false;
        taken = m_DispQueue.PopSome(batch, kDispBatch);
    }
    for (int i = 0; i < taken; ++i) {
        if (batch[i] == nullptr || !HandToClient(batch[i])) {
            Carry(batch + i + 1, taken - i - 1);
            return false;
        }
    }
    return taken > 0;
}

bool INetProcess::HandToClient(MMORPG::MMORPGPacket* packet) {
    QXNetClient* client = m_Service ? m_Service->GetClient(packet->GetDestIndex()) : nullptr;
    auto* serverObj = client ? static_cast<IServerObj*>(client->GetUserObj()) : nullptr;
    if (serverObj != nullptr) {
        serverObj->PushSendPack(packet);
        return true;
    }
    const LogRepeatLimiter::Verdict verdict = m_LogLimiter.Admit(m_Name, "ThreadDispToAllClient error packet");
    if (!verdict.summary.empty()) GetLog()->LogWarn("%s", verdict.summary.c_str());
    if (verdict.write) GetLog()->LogWarn("ThreadDispToAllClient error packet:%s", HexDump(packet->GetSendData()).c_str());
    FreePacket(packet);
    return false;
}

int INetProcess::TakeCarried(MMORPG::MMORPGPacket** batch) {
    const int count = static_cast<int>(m_DispCarry.size());
    std::copy(m_DispCarry.begin(), m_DispCarry.end(), batch);
    m_DispCarry.clear();
    m_DispCarried.store(0, std::memory_order_relaxed);
    return count;
}

void INetProcess::Carry(MMORPG::MMORPGPacket* const* packets, int count) {
    m_DispCarry.assign(packets, packets + count);
    m_DispCarried.store(count, std::memory_order_relaxed);
}

bool INetProcess::SendPass() {
    if (!m_Running) return false;
    bool sentSomething = false;
    // Only this thread changes the index, so it walks it without the lock.
    const int count = m_OnlineClients.Count();
    for (int i = 0; i < count; ++i) {
        IServerObj* serverObj = m_OnlineClients.ValueAt(i);
        if (serverObj->GetSendQueueCount() == 0) continue;
        if (serverObj->SendQueued() != 0) {
            const int sent = serverObj->GetSentThisPass();
            if (sent > 0) {
                m_SendCounter.AddBytes(static_cast<uint32_t>(sent));
                sentSomething = true;
            }
            serverObj->ClearSentThisPass();
        } else {
            serverObj->WarnLimited("send failed",
                                   LocationText() + ", send error : " + NetErrorText(plat::GetLastError()));
            serverObj->ResetObj();
        }
    }
    return sentSomething;
}

bool INetProcess::IsOnline(IServerObj* serverObj) { return m_OnlineClients.Find(serverObj) != nullptr; }

bool INetProcess::AddOnline(IServerObj* serverObj) {
    std::lock_guard lock(m_OnlineLock);
    return m_OnlineClients.Add(serverObj, serverObj);
}

void INetProcess::RemoveOnline(IServerObj* serverObj) {
    std::lock_guard lock(m_OnlineLock);
    m_OnlineClients.Remove(serverObj);
}
