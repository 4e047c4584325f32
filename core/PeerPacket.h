// Helpers shared by the four link cores: how a received packet becomes a
// pooled packet on the core's receive queue, and the link-down notice that a
// lost peer leaves behind. Free functions without state; they run on
// whichever thread receives (the process thread for the listening cores, the
// DataServer link's receive thread for the outbound one).
#pragma once

#include <cstdint>

#include "ShareDefine/PackHead.h"
#include "ShareDefine/PacketStage.h"
#include "ShareDefine/ServerObj.h"

class QXNetClient;

namespace peer {

// Fills a pooled packet with the header, the body and the routing slot and
// pushes it onto the queue, which then owns it. When the pool has no packet
// to give, the packet is dropped with an Error line that names `receiver`;
// returns false then.
bool QueueReceivedPack(PacketQueue* queue, const MMORPG::tagPackHead& head, const char* data, int len,
                       int32_t destIndex, const char* receiver);
// The same through the receiving object's stage: pushed with the rest of the
// read being framed, or at once outside a read.
bool QueueReceivedPack(PacketStage& stage, const MMORPG::tagPackHead& head, const char* data, int len,
                       int32_t destIndex, const char* receiver);

// The rule GameServers and LoginServers share: the header's DestIndex becomes
// the routing slot and is cleared, except in a broadcast, whose header keeps
// it (the sender's own slot, which the broadcast then skips) while the
// routing slot stays at the pooled packet's reset value 0.
bool QueueKeepingBroadcastHeader(PacketStage& stage, const MMORPG::tagPackHead& head, const char* data, int len,
                                 const char* receiver);

// The header of the notice a lost link injects: all zero but packType
// atBroadcast, DestIndex -1 and the lost link's server type as source.
MMORPG::tagPackHead LinkDownHead(uint8_t srcServerType);

// The server object bound to a connection slot, or null.
IServerObj* BoundServerObj(QXNetClient* client);

// The peer's address text of a slot; never null.
const char* PeerIPText(QXNetClient* client);

}  // namespace peer
