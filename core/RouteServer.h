// RouteServer: the server object of one RouteServer connection slot. It turns every
// packet its framer cuts from the slot's byte stream into a pooled packet on
// the core's receive queue; every packet's header DestIndex becomes the
// routing slot and is replaced by this slot's own pool index, so whoever
// answers, and the broadcast's sender skip, know which RouteServer sent it.
// Created by RouteServerCore for a new slot and owned by it; OnRecvPack runs on the
// core's process thread.
#pragma once

#include "ShareDefine/ServerObj.h"

class RouteServer : public IServerObj {
public:
    // service: not owned; targetQueue: the server core's receive queue, not owned.
    RouteServer(INetService* service, int poolIndex, PacketQueue* targetQueue);

    void OnRecvPack(MMORPG::tagPackHead* head, const char* data, int len) override;
};
