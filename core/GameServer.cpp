#include "core/GameServer.h"

#include "core/PeerPacket.h"

GameServer::GameServer(INetService* service, int poolIndex, PacketQueue* targetQueue)
    : IServerObj(service, poolIndex, targetQueue) {
    m_Recorder = MMORPG::stGameServer;
}

void GameServer::OnRecvPack(MMORPG::tagPackHead* head, const char* data, int len) {
    peer::QueueKeepingBroadcastHeader(ReceiveStage(), *head, data, len, "GameServer");
}
