// The gateway's full answer to the base-information request: the process
// figures, each listening service with one block per connected slot, the
// DataServer link, the 38 network-service statistics and the four limits of
// each service. Runs on the status request thread and reads the relay
// through its thread-safe accessors; the figures are advisory.
#pragma once

#include "ShareDefine/MMORPGPacket.h"

class CServerCore;
class CSSLogicProcess;

namespace status {
class tagSVCBaseInfoReply;
}

// Builds the reply from `core` and sends it through `link`, with the
// request's DestIndex and both server types 13. Always true.
bool BuildBaseInfoReply(MMORPG::MMORPGPacket* request, CServerCore* core, CSSLogicProcess* link);
// The entries alone, in their order (for tests and the reply above).
void AddBaseInfoEntries(status::tagSVCBaseInfoReply& reply, CServerCore* core, int serverIndex, int serverType);
