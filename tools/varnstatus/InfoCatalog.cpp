#include "tools/varnstatus/InfoCatalog.h"

#include <array>
#include <utility>

namespace varnstatus {
namespace {

// The labels under which the network parameter view shows the same figures,
// so that an operator finds them again in the gateway's window.
constexpr std::array<const char*, kStatisticCount> kStatisticLabels = {
    "Max Client",
    "Recv Total Byte",
    "Send Total Byte",
    "OPCOUNT",
    "RECV_QUEUE",
    "SEND_QUEUE",
    "SEND_STREAM_SIZE",
    "FREE_CLIENT_POOL",
    "WAIT_PROCESS_SENDCOUNT",
    "ALLOCED_OPCOUNT",
    "PUSH_RECV_MSG_TOTAL",
    "PUSH_SEND_MSG_TOTAL",
    "POP_RECV_MSG_TOTAL",
    "POP_SEND_MSG_TOTAL",
    "COMMIT_SEND_TOTALBYTE",
    "NETMSG_OBJPOOL_COUNT",
    "NETMSG_OBJPOOL_FREE_COUNT",
    "NETMSG_IOCP_SEND_RETRY",
    "NETMSG_WSASEND_RETRY",
    "NETMSG_WSASEND_PENDING",
    "NETMSG_WRITECOUNT",
    "NETMSG_WSASEND_RETURN_ZERO",
    "MAXQUEUE_KICKOUT",
    "REFUSE_CONNECTBYSEND_COUNT",
    "REFUSE_CONNECTBYRECV_COUNT",
    "FIND_HACKER_KICK_OUT",
    "DROP_PACK_COUNT",
    "TIME_KICK_OUT_COUNT",
    "COMKEY_NULL_ERROR_COUNT",
    "IOHANDLE_OLP_NULL_ERROR_COUNT",
    "RET_ERROR_COUNT",
    "CLIENTNORMAL_DIS_COUNT",
    "MAX_CONNECT_REFUSE_COUNT",
    "CHECK_HACKREFUSE_COUNT",
    "INITIATIVE_CLOSESOCKET_COUNT",
    "POST_RECV_ERR_COUNT",
    "POST_SEND_ERR_COUNT",
    "POST_ACCEPT_ERR_COUNT",
};

constexpr uint32_t kDataServerGroup = 1;

// Ids 46-49 are settings; their names are the setting keys without the
// "edt<Kind>Server" prefix, which the group already says.
constexpr std::pair<uint32_t, const char*> kNamedIds[] = {
    {46, "MaxSendMsgQueueCount"},
    {47, "RefuseConnectBySendQueue"},
    {48, "RefuseConnectByRecvQueue"},
    {49, "HackAttackValue"},
    {56, "CpuPercent"},
    {57, "WorkingSet"},
    {58, "PageFile"},
    {60, "LastError"},
    {61, "LastFatal"},
    {62, "PoolPeak"},
    {63, "PoolInUse"},
    {90, "RecvCounter"},
    {91, "SendCounter"},
    {92, "RecvByteRate"},
    {93, "SendByteRate"},
    {94, "PeerIp"},
    {95, "LinkRecvCounter"},
    {96, "LinkSendCounter"},
    {97, "QueuedPackets"},
    {98, "RecvCount"},
    {99, "SendCount"},
    {100, "SendBufferLeft"},
    {101, "SendBufferCommitted"},
    {102, "SendPending"},
    {103, "WaitingClose"},
    {104, "RecvIdleTime"},
};

}  // namespace

std::string InfoName(uint32_t id, uint32_t group) {
    if (id < kStatisticCount) return kStatisticLabels[id];
    if (group == kDataServerGroup) {
        // The DataServer link reports its send queue and byte rates where a
        // connection reports its backlog and packet counts.
        if (id == 97) return "SendQueuePackets";
        if (id == 98) return "LinkRecvByteRate";
        if (id == 99) return "LinkSendByteRate";
    }
    for (const auto& [known, name] : kNamedIds) {
        if (known == id) return name;
    }
    return {};
}

std::string GroupName(uint32_t group) {
    switch (group) {
        case 0: return "process";
        case 1: return "DataServer";
        case 3: return "LoginServer";
        case 4: return "GameServer";
        case 5: return "RouteServer";
        default: return {};
    }
}

bool IsSignedInfo(uint32_t id) {
    return id == 56 || id == 62 || id == 63 || id == 92 || id == 93 || (id >= 97 && id <= 101);
}

}  // namespace varnstatus
