#include "core/GameServerCore.h"

#include <memory>

#include "core/GameServer.h"
#include "core/PeerPacket.h"
#include "diag/PackRecorderManager.h"
#include "infra/Log.h"

GameServerCore::GameServerCore(PacketQueue* targetQueue) : INetProcess(targetQueue) {
    m_Name = "GameServer";
    m_Recorder = MMORPG::stGameServer;
}

void GameServerCore::CreateServerObj(INetService* service, QXNetClient* client) {
    AddServerObj(client, std::make_unique<GameServer>(service, client->GetPoolIndex(), GetTargetQueue()));
}

void GameServerCore::OnConnected(INetService* service, QXNetClient* client) {
    GetLog()->LogRun("GameServer(poolIndex = %d, IP = %s) Connect...OK!", client->GetPoolIndex(),
                     peer::PeerIPText(client));
}

void GameServerCore::OnRecvData(INetService* service, QXNetClient* client, const char* data, int len) {
    if (IServerObj* serverObj = peer::BoundServerObj(client)) serverObj->OnRecvBytes(data, len);
}

void GameServerCore::OnDisconnected(INetService* service, QXNetClient* client) {
    GetLog()->LogRun("GameServer(%d) Disconnect!", client->GetPoolIndex());
    IServerObj* serverObj = peer::BoundServerObj(client);
    if (serverObj == nullptr) return;
    MMORPG::tagPackHead head = peer::LinkDownHead(MMORPG::stGameServer);
    serverObj->OnRecvPack(&head, "", 0);
    if (PackRecorder* recorder = PackRecorderManager::Instance().FindRecorder(serverObj->GetRecorder())) {
        char bytes[MMORPG::kPackHeadSize];
        MMORPG::EncodePackHead(head, bytes);
        recorder->Recv().AddRecord(bytes, MMORPG::kPackHeadSize);
    }
}

void GameServerCore::OnClientNotify(INetService* service, QXNetClient* client) {}
