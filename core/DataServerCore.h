// DataServerCore: the gateway's one outbound link, to the DataServer. Every
// packet the DataServer sends becomes a pooled packet on the server core's
// receive queue, its header DestIndex turned into the routing slot; losing
// the link injects the link-down notice (an empty atBroadcast from server
// type 1) so every listening link hears of it.
// Owned by CServerCore, constructed with its receive queue (not owned).
// Connect, Disconnect and DropConnection run on the window thread;
// OnRecvPack, OnDisconnected and Reconnect on the link's receive thread.
#pragma once

#include "ShareDefine/PacketStage.h"
#include "ShareDefine/ServerObj.h"
#include "ShareDefine/TnServerClient.h"

class DataServerCore : public TnServerClient {
public:
    explicit DataServerCore(PacketQueue* targetQueue);

    void OnRecvPack(MMORPG::tagPackHead* head, const char* data, int len) override;
    void OnDisconnected() override;
    bool Connect(const char* host, int port) override;
    bool Reconnect() override;

    // Closes the connection of a start attempt that is being undone, but,
    // unlike Disconnect(), leaves the automatic reconnects armed: the window
    // retries the start, and the link it then makes has to recover from a
    // later loss like any other. Only while the link's threads are not yet
    // running (before ThreadManager::StartAll).
    void DropConnection();

    PacketQueue* GetTargetQueue() const { return m_TargetQueue; }

private:
    PacketQueue* m_TargetQueue;
    // Holds the packets of one read until it is framed.
    PacketStage m_ReceiveStage{m_TargetQueue};
};
