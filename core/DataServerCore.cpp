#include "core/DataServerCore.h"

#include "core/PeerPacket.h"
#include "diag/PackRecorderManager.h"
#include "infra/Log.h"
#include "modules/nqBlockClient/INqBlockSocket.h"
#include "ShareDefine/MMORPGPacketPool.h"

DataServerCore::DataServerCore(PacketQueue* targetQueue) : m_TargetQueue(targetQueue) {
    SetReceiveStage(&m_ReceiveStage);
    m_Name = "VarnholtServer";
    m_Recorder = MMORPG::stGateway;
}

void DataServerCore::OnRecvPack(MMORPG::tagPackHead* head, const char* data, int len) {
    MMORPG::tagPackHead queued = *head;
    const int32_t destIndex = queued.DestIndex;
    queued.DestIndex = 0;
    peer::QueueReceivedPack(m_ReceiveStage, queued, data, len, destIndex, "DataServerCore");
}

void DataServerCore::OnDisconnected() {
    GetLog()->LogRun("DataServer Disconnect!");
    MMORPG::tagPackHead head;
    head.packType = MMORPG::atBroadcast;
    head.SrcServerType = MMORPG::stDataServer;
    peer::QueueReceivedPack(m_TargetQueue, head, "", 0, -1, "DataServerCore");
    if (PackRecorder* recorder = PackRecorderManager::Instance().FindRecorder(m_Recorder)) {
        recorder->Recv().AddRecord("", 0);
    }
}

bool DataServerCore::Connect(const char* host, int port) {
    const bool connected = TnServerClient::Connect(host, port);
    if (connected) GetLog()->LogRun("DataServerCore::Connect(%s, %d)", host, port);
    return connected;
}

bool DataServerCore::Reconnect() {
    const bool connected = TnServerClient::Reconnect();
    if (connected) GetLog()->LogRun("DataServerCore::Reconnect()");
    return connected;
}

void DataServerCore::DropConnection() {
    if (INqBlockSocket* socket = GetSocket()) socket->SockClose();
}
