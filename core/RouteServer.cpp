#include "core/RouteServer.h"

#include "core/PeerPacket.h"

RouteServer::RouteServer(INetService* service, int poolIndex, PacketQueue* targetQueue)
    : IServerObj(service, poolIndex, targetQueue) {
    m_Recorder = MMORPG::stRouteServer;
}

void RouteServer::OnRecvPack(MMORPG::tagPackHead* head, const char* data, int len) {
    MMORPG::tagPackHead queued = *head;
    const int32_t destIndex = queued.DestIndex;
    queued.DestIndex = static_cast<int16_t>(GetPoolIndex());
    peer::QueueReceivedPack(ReceiveStage(), queued, data, len, destIndex, "RouteServer");
}
