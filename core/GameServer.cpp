#include "core/GameServer.h"

#include "core/PeerPacket.h"

GameServer::GameServer(INetService* service, int poolIndex, PacketQueue* targetQueue)
    : IServerObj(service, poolIndex, targetQueue) {
    m_Recorder = MMORPG::stGameServer;
}

void GameServer::OnRecvPack(MMORPG::tagPackHead* head, const char* data, int len) {
    MMORPG::tagPackHead queued = *head;
    int32_t destIndex = 0;  // a pooled packet's reset value, kept for broadcasts
    if (queued.packType != MMORPG::atBroadcast) {
        destIndex = queued.DestIndex;
        queued.DestIndex = 0;
    }
    peer::QueueReceivedPack(GetTargetQueue(), queued, data, len, destIndex, "GameServer");
}
