#include "core/PeerPacket.h"

#include "infra/Log.h"
#include "modules/QXNetService/INetService.h"
#include "ShareDefine/MMORPGPacketPool.h"

namespace peer {

namespace {

// `packet` (pooled, or null when the pool had none to give) filled with the
// header, the body and the routing slot; null, with the Error line, when
// there was no packet.
MMORPG::MMORPGPacket* FillReceivedPack(MMORPG::MMORPGPacket* packet, const MMORPG::tagPackHead& head,
                                       const char* data, int len, int32_t destIndex, const char* receiver) {
    if (packet == nullptr) {
        GetLog()->LogError("%s::OnRecvPack  AllocPacket() == NULL, packet dropped (packType = %d, SrcServerType = %d)",
                           receiver, head.packType, head.SrcServerType);
        return nullptr;
    }
    packet->SetPackHead(&head);
    packet->ReadData(data, len);
    packet->SetDestIndex(destIndex);
    return packet;
}

}  // namespace

bool QueueReceivedPack(PacketQueue* queue, const MMORPG::tagPackHead& head, const char* data, int len,
                       int32_t destIndex, const char* receiver) {
    MMORPG::MMORPGPacket* packet = FillReceivedPack(AllocPacket(), head, data, len, destIndex, receiver);
    if (packet == nullptr) return false;
    queue->Push(packet);
    return true;
}

bool QueueReceivedPack(PacketStage& stage, const MMORPG::tagPackHead& head, const char* data, int len,
                       int32_t destIndex, const char* receiver) {
    MMORPG::MMORPGPacket* packet = FillReceivedPack(stage.NewPacket(), head, data, len, destIndex, receiver);
    if (packet == nullptr) return false;
    stage.Add(packet);
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

bool QueueKeepingBroadcastHeader(PacketStage& stage, const MMORPG::tagPackHead& head, const char* data, int len,
                                 const char* receiver) {
    MMORPG::tagPackHead queued = head;
    int32_t destIndex = 0;
    if (queued.packType != MMORPG::atBroadcast) {
        destIndex = queued.DestIndex;
        queued.DestIndex = 0;
    }
    return QueueReceivedPack(stage, queued, data, len, destIndex, receiver);
}

}  // namespace peer
