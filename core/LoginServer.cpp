#include "core/LoginServer.h"

#include "core/PeerPacket.h"

LoginServer::LoginServer(INetService* service, int poolIndex, PacketQueue* targetQueue)
    : IServerObj(service, poolIndex, targetQueue) {
    m_Recorder = MMORPG::stLoginServer;
}

void LoginServer::OnRecvPack(MMORPG::tagPackHead* head, const char* data, int len) {
    peer::QueueKeepingBroadcastHeader(ReceiveStage(), *head, data, len, "LoginServer");
}
