#include "core/LoginServerCore.h"

#include <memory>

#include "core/LoginServer.h"
#include "core/PeerPacket.h"
#include "infra/Log.h"

LoginServerCore::LoginServerCore(PacketQueue* targetQueue) : INetProcess(targetQueue) {
    m_Name = "LoginServer";
    m_Recorder = MMORPG::stLoginServer;
}

void LoginServerCore::CreateServerObj(INetService* service, QXNetClient* client) {
    AddServerObj(client, std::make_unique<LoginServer>(service, client->GetPoolIndex(), GetTargetQueue()));
}

void LoginServerCore::OnConnected(INetService* service, QXNetClient* client) {
    GetLog()->LogRun("LoginServer(poolIndex = %d, IP = %s) Connect...OK!", client->GetPoolIndex(),
                     peer::PeerIPText(client));
}

void LoginServerCore::OnRecvData(INetService* service, QXNetClient* client, const char* data, int len) {
    if (IServerObj* serverObj = peer::BoundServerObj(client)) serverObj->OnRecvBytes(data, len);
}

void LoginServerCore::OnDisconnected(INetService* service, QXNetClient* client) {
    GetLog()->LogRun("LoginServer(%d) Disconnect!", client->GetPoolIndex());
    IServerObj* serverObj = peer::BoundServerObj(client);
    if (serverObj == nullptr) return;
    MMORPG::tagPackHead head = peer::LinkDownHead(MMORPG::stLoginServer);
    serverObj->OnRecvPack(&head, "", 0);
}

void LoginServerCore::OnClientNotify(INetService* service, QXNetClient* client) {}
