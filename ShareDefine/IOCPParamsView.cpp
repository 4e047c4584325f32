#include "ShareDefine/IOCPParamsView.h"

#include <cinttypes>
#include <cstdio>

#include "infra/Log.h"
#include "modules/QXNetService/INetService.h"
#include "platform/ListView.h"

namespace {

enum : int {
    kStatRecvBytes = 1,
    kStatSendBytes = 2,
    kStatPopRecv = 12,
    kStatPopSend = 13,
    kStatObjPoolCount = 15,
};

// The row texts of the statistics that show nothing but their value.
constexpr const char* kPlainRows[CIOCPParamsView::kRowCount] = {
    "+Max Client:%" PRIu64,
    nullptr,
    nullptr,
    "+OPCOUNT:%" PRIu64,
    "+RECV_QUEUE:%" PRIu64,
    "+SEND_QUEUE:%" PRIu64,
    "+SEND_STREAM_SIZE:%" PRIu64,
    "+FREE_CLIENT_POOL:%" PRIu64,
    "+WAIT_PROCESS_SENDCOUNT:%" PRIu64,
    "+ALLOCED_OPCOUNT:%" PRIu64,
    "+PUSH_RECV_MSG_TOTAL:%" PRIu64,
    "+PUSH_SEND_MSG_TOTAL:%" PRIu64,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    "+NETMSG_OBJPOOL_FREE_COUNT:%" PRIu64,
    "+NETMSG_IOCP_SEND_RETRY:%" PRIu64,
    "+NETMSG_WSASEND_RETRY:%" PRIu64,
    "+NETMSG_WSASEND_PENDING:%" PRIu64,
    "+NETMSG_WRITECOUNT:%" PRIu64,
    "+NETMSG_WSASEND_RETURN_ZERO:%" PRIu64,
    "+MAXQUEUE_KICKOUT:%" PRIu64,
    "+REFUSE_CONNECTBYSEND_COUNT:%" PRIu64,
    "+REFUSE_CONNECTBYRECV_COUNT:%" PRIu64,
    "+FIND_HACKER_KICK_OUT:%" PRIu64,
    "+DROP_PACK_COUNT:%" PRIu64,
    "+TIME_KICK_OUT_COUNT:%" PRIu64,
    "+COMKEY_NULL_ERROR_COUNT:%" PRIu64,
    "+IOHANDLE_OLP_NULL_ERROR_COUNT:%" PRIu64,
    "+RET_ERROR_COUNT:%" PRIu64,
    "+CLIENTNORMAL_DIS_COUNT:%" PRIu64,
    "+MAX_CONNECT_REFUSE_COUNT:%" PRIu64,
    "+CHECK_HACKREFUSE_COUNT:%" PRIu64,
    "+INITIATIVE_CLOSESOCKET_COUNT:%" PRIu64,
    "+POST_RECV_ERR_COUNT:%" PRIu64,
    "+POST_SEND_ERR_COUNT:%" PRIu64,
    "+POST_ACCEPT_ERR_COUNT:%" PRIu64,
};

// A "%d" of the row texts shows the low 32 bits of its 64-bit figure.
int Low32(uint64_t value) { return static_cast<int>(static_cast<uint32_t>(value)); }

// The difference since the last refresh; the first refresh counts from 0.
uint64_t TakeDifference(uint64_t value, uint64_t& previous) {
    const uint64_t difference = previous != 0 ? value - previous : value;
    previous = value;
    return difference;
}

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char text[160];
    std::snprintf(text, sizeof(text), format, args...);
    return text;
}

}  // namespace

CIOCPParamsView::CIOCPParamsView(INetService* netService, plat::IListView* listView)
    : m_NetService(netService), m_ListView(listView) {
    if (netService == nullptr) GetLog()->LogFatal("CIOCPParamsView::CIOCPParamsView  pNetService == NULL");
    if (listView == nullptr) GetLog()->LogFatal("CIOCPParamsView::CIOCPParamsView  lvwShowControl == NULL");
}

CIOCPParamsView::~CIOCPParamsView() = default;

void CIOCPParamsView::Prepare() {
    if (m_ListView == nullptr) return;
    m_ListView->ClearColumns();
    m_ListView->AddColumn("Param Name", kColumnWidth);
    m_ListView->SetRowSource([this](int index, plat::ListRow& row) {
        row.caption = RowText(index);
        row.subItems.clear();
        return true;
    });
}

void CIOCPParamsView::Refresh() {
    if (m_NetService == nullptr) return;
    m_RecvDiff = TakeDifference(m_NetService->GetValue(kStatRecvBytes), m_PrevRecv);
    m_SendDiff = TakeDifference(m_NetService->GetValue(kStatSendBytes), m_PrevSend);
    m_PopRecvDiff = TakeDifference(m_NetService->GetValue(kStatPopRecv), m_PrevPopRecv);
    m_PopSendDiff = TakeDifference(m_NetService->GetValue(kStatPopSend), m_PrevPopSend);
    if (m_ListView == nullptr) return;
    m_ListView->SetItemCount(kRowCount);
    m_ListView->Repaint();
}

std::string CIOCPParamsView::RowText(int index) const {
    if (m_NetService == nullptr || index < 0 || index >= kRowCount) return {};
    const uint64_t value = m_NetService->GetValue(index);
    switch (index) {
        case kStatRecvBytes:
            return Format("+Recv Total Byte:%" PRIu64 " KB,Last Sec Recv Byte:%d KB", value / 1024,
                          Low32(m_RecvDiff / 1024));
        case kStatSendBytes:
            return Format("+Send Total Byte:%" PRIu64 " KB,LastSecSendBYTE:%d KB", value / 1024,
                          Low32(m_SendDiff / 1024));
        case kStatPopRecv:
            return Format("+POP_RECV_MSG_TOTAL:%" PRIu64 ",LastPopRecvCount:%d", value, Low32(m_PopRecvDiff));
        case kStatPopSend:
            return Format("+POP_SEND_MSG_TOTAL:%" PRIu64 ",LastPopSendCount:%d", value, Low32(m_PopSendDiff));
        case 14:
            return Format("+COMMIT_SEND_TOTALBYTE:%" PRIu64 " KB", value / 1024);
        case kStatObjPoolCount: {
            // Each pooled message is 4112 bytes; the megabytes are counted
            // whole before they are shown with two decimals.
            const uint64_t megabytes = value * 4112 / 2072576;
            return Format("+NETMSG_OBJPOOL_COUNT:%" PRIu64 "[%5.2f MB]", value, static_cast<double>(megabytes));
        }
        default:
            return Format(kPlainRows[index], value);
    }
}
