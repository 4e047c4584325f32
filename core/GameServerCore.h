// GameServerCore: the listening core for GameServers. It creates a GameServer server
// object for every new connection slot, logs connects and disconnects, feeds
// received bytes to the slot's object and, when a connection is lost, injects
// the link-down notice (an empty atBroadcast from server type 3) into the
// server core's receive queue so every other link hears of it.
// The notice's header also goes to the GameServer packet recorder, if any.
// Constructed by CServerCore with its receive queue (not owned); every
// notification runs on the core's process thread (ProcessNetMsg).
#pragma once

#include "ShareDefine/NetProcess.h"

class GameServerCore : public INetProcess {
public:
    explicit GameServerCore(PacketQueue* targetQueue);

    void CreateServerObj(INetService* service, QXNetClient* client) override;
    void OnConnected(INetService* service, QXNetClient* client) override;
    void OnRecvData(INetService* service, QXNetClient* client, const char* data, int len) override;
    void OnDisconnected(INetService* service, QXNetClient* client) override;
    void OnClientNotify(INetService* service, QXNetClient* client) override;
};
