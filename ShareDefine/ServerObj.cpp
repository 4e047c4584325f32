#include "ShareDefine/ServerObj.h"

#include <cstring>

#include "diag/PackRecorderManager.h"
#include "infra/Log.h"
#include "infra/SourceLocation.h"
#include "modules/QXNetService/INetService.h"
#include "platform/LastError.h"
#include "infra/HexDump.h"
#include "ShareDefine/NetErrorText.h"

IServerObj::IServerObj(INetService* service, int poolIndex, PacketQueue* targetQueue)
    : m_Stream(service, poolIndex), m_TargetQueue(targetQueue), m_Service(service), m_PoolIndex(poolIndex) {
    m_Dispatcher.SetOnPack(PackClosure{&IServerObj::OnGetDispatchPackThunk, this});
}

IServerObj::~IServerObj() = default;

void IServerObj::OnRecvBytes(const char* data, int len) {
    if (len <= 0) return;
    m_RecvCounter.AddBytes(static_cast<uint32_t>(len));
    m_Dispatcher.Feed(data, len);
}

int IServerObj::PushSendPack(MMORPG::MMORPGPacket* packet) { return m_SendQueue.Push(packet); }

int IServerObj::GetSendQueueCount() { return m_SendQueue.Count(); }

int IServerObj::SendQueued() {
    m_SentThisPass = 0;
    while (m_SendQueue.Count() > 0) {
        // Framed straight from the queued packet: no scratch copy per packet.
        MMORPG::MMORPGPacket* packet = m_SendQueue.Pop();
        if (packet == nullptr) continue;
        const int sent = SendOne(*packet);
        FreePacket(packet);
        if (sent == 0) return 0;
    }
    const int flushed = m_Stream.SendBuf_o(nullptr, 0);
    if (flushed <= 0 && plat::GetLastError() != NOTHING_TO_SEND) {
        GetLog()->LogWarn("%s, m_Recorder = %d, GameServer Send Failed, ret = %d, error : %s", LocationText().c_str(),
                          m_Recorder, flushed, NetErrorText(plat::GetLastError()).c_str());
        return 0;
    }
    return 1;
}

int IServerObj::SendOne(MMORPG::MMORPGPacket& packet) {
    packet.BuildSendData(m_Frame);
    const int len = static_cast<int>(m_Frame.size());
    m_SendCounter.AddBytes(static_cast<uint32_t>(len));
    if (PackRecorder* recorder = PackRecorderManager::Instance().FindRecorder(m_Recorder)) {
        recorder->Send().AddRecord(m_Frame.data(), len, static_cast<int32_t>(packet.GetContext()), 0);
    }
    OnBeforeSend(&packet, m_Frame.data(), len);
    const int written = m_Stream.SendBuf_o(m_Frame.data(), len);
    if (written < 1 && plat::GetLastError() != NOTHING_TO_SEND) {
        GetLog()->LogWarn("%s, GameServer Send Failed : %s", LocationText().c_str(),
                          NetErrorText(plat::GetLastError()).c_str());
        return 0;
    }
    m_SentThisPass += len;
    return 1;
}

std::string IServerObj::GetRecvCounterText() { return m_RecvCounter.GetRateText(); }

std::string IServerObj::GetSendCounterText() { return m_SendCounter.GetRateText(); }

int IServerObj::GetRecvCounterValue() { return m_RecvCounter.GetByteRate(); }

int IServerObj::GetSendCounterValue() { return m_SendCounter.GetByteRate(); }

void IServerObj::ResetObj() {
    m_SendQueue.Clear();
    m_Dispatcher.ClearBuffer();
    m_RecvCounter.Reset();
    m_SendCounter.Reset();
}

void IServerObj::OnGetDispatchPackThunk(void* context, const char* body, int len) {
    static_cast<IServerObj*>(context)->OnGetDispatchPack(body, len);
}

void IServerObj::OnGetDispatchPack(const char* body, int len) {
    if (PackRecorder* recorder = PackRecorderManager::Instance().FindRecorder(m_Recorder)) {
        recorder->Recv().AddRecord(body, len);
    }
    if (len < MMORPG::kPackHeadSize) {
        GetLog()->LogWarn("IServerObj::OnGetDispatchPack, PackError : %s", HexDump(body, len).c_str());
        return;
    }
    MMORPG::tagPackHead head;
    MMORPG::MMORPGPacket::ReadPackHead(&head, body, 0);
    OnRecvPack(&head, body + MMORPG::kPackHeadSize, len - MMORPG::kPackHeadSize);
}

QXNetClient* IServerObj::Client() { return m_Service ? m_Service->GetClient(m_PoolIndex) : nullptr; }

std::string IServerObj::GetPeerIP() {
    QXNetClient* client = Client();
    const char* ip = client ? client->GetPeerIP() : nullptr;
    return ip ? ip : "";
}

int IServerObj::GetSocket() {
    QXNetClient* client = Client();
    return client ? client->GetSocket() : -1;
}

bool IServerObj::IsUsable() {
    QXNetClient* client = Client();
    return client != nullptr && client->IsUsable();
}

int IServerObj::IsSendPending() {
    QXNetClient* client = Client();
    return client ? client->IsSendPending() : 0;
}

int IServerObj::IsWaitClose() {
    QXNetClient* client = Client();
    return client ? client->IsWaitClose() : 0;
}

unsigned IServerObj::GetRecvIdleTime() {
    QXNetClient* client = Client();
    return client ? client->GetRecvIdleTime() : 0;
}

unsigned IServerObj::GetRemainSendBuffLen() {
    QXNetClient* client = Client();
    return client ? client->GetRemainSendBuffLen() : 0;
}

unsigned IServerObj::GetCommitSendBuffLen() {
    QXNetClient* client = Client();
    return client ? client->GetCommitSendBuffLen() : 0;
}
