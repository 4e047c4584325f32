#include "core/PeerPacket.h"

#include "infra/Log.h"
#include "modules/QXNetService/INetService.h"
#include "ShareDefine/MMORPGPacketPool.h"

namespace peer {

bool QueueReceivedPack(PacketQueue* queue, const MMORPG::tagPackHead& head, const char* data, int len,
                       int32_t destIndex, const char* receiver) {
    MMORPG::MMORPGPacket* packet = AllocPacket();
    if (packet == nullptr) {
        GetLog()->LogError("%s::OnRecvPack  AllocPacket() == NULL, packet dropped (packType = %d, SrcServerType = %d)",
                           receiver, head.packType, head.SrcServerType);
        return false;
    }
    packet->SetPackHead(&head);
    packet->ReadData(data, len);
    packet->SetDestIndex(destIndex);
    queue->Push(packet);
    return true;
}

MMORPG::tagPackHead LinkDownHead(uint8_t srcServerType) {
    MMORPG::tagPackHead head;
    head.packType = MMORPG::atBroadcast;
    head.DestIndex = -1;
    head.SrcServerType = srcServerType;
    return head;
}

IServerObj* BoundServerObj(QXNetClient* client) {
    return client != nullptr ? static_cast<IServerObj*>(client->GetUserObj()) : nullptr;
}

const char* PeerIPText(QXNetClient* client) {
    const char* ip = client != nullptr ? client->GetPeerIP() : nullptr;
    return ip != nullptr ? ip : "";
}

bool QueueKeepingBroadcastHeader(PacketQueue* queue, const MMORPG::tagPackHead& head, const char* data, int len,
                                 const char* receiver) {
    MMORPG::tagPackHead queued = head;
    int32_t destIndex = 0;
    if (queued.packType != MMORPG::atBroadcast) {
        destIndex = queued.DestIndex;
        queued.DestIndex = 0;
    }
    return QueueReceivedPack(queue, queued, data, len, destIndex, receiver);
}

}  // namespace peer
