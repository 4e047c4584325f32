// GameServer: the server object of one GameServer connection slot. It turns every
// packet its framer cuts from the slot's byte stream into a pooled packet on
// the core's receive queue; an atBroadcast packet keeps its header as
// received (its DestIndex names the sender for the broadcast's skip), any
// other packet's header DestIndex becomes the routing slot and is cleared.
// Created by GameServerCore for a new slot and owned by it; OnRecvPack runs on the
// core's process thread.
#pragma once

#include "ShareDefine/ServerObj.h"

class GameServer : public IServerObj {
public:
    // service: not owned; targetQueue: the server core's receive queue, not owned.
    GameServer(INetService* service, int poolIndex, PacketQueue* targetQueue);

    void OnRecvPack(MMORPG::tagPackHead* head, const char* data, int len) override;
};
