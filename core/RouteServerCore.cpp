#include "core/RouteServerCore.h"

#include <memory>

#include "core/PeerPacket.h"
#include "core/RouteServer.h"
#include "infra/Log.h"

RouteServerCore::RouteServerCore(PacketQueue* targetQueue) : INetProcess(targetQueue) {
    m_Name = "RouteServer";
    m_Recorder = MMORPG::stRouteServer;
}

void RouteServerCore::CreateServerObj(INetService* service, QXNetClient* client) {
    AddServerObj(client, std::make_unique<RouteServer>(service, client->GetPoolIndex(), GetTargetQueue()));
}

void RouteServerCore::OnConnected(INetService* service, QXNetClient* client) {
    GetLog()->LogRun("RouteServer(poolIndex = %d, IP = %s) Connect...OK!", client->GetPoolIndex(),
                     peer::PeerIPText(client));
}

void RouteServerCore::OnRecvData(INetService* service, QXNetClient* client, const char* data, int len) {
    if (IServerObj* serverObj = peer::BoundServerObj(client)) serverObj->OnRecvBytes(data, len);
}

void RouteServerCore::OnDisconnected(INetService* service, QXNetClient* client) {
    GetLog()->LogRun("RouteServer(%d) Disconnect!", client->GetPoolIndex());
    IServerObj* serverObj = peer::BoundServerObj(client);
    if (serverObj == nullptr) return;
    MMORPG::tagPackHead head = peer::LinkDownHead(MMORPG::stRouteServer);
    serverObj->OnRecvPack(&head, "", 0);
}

void RouteServerCore::OnClientNotify(INetService* service, QXNetClient* client) {}
