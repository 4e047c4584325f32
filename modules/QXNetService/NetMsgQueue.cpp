#include "modules/QXNetService/NetMsgQueue.h"

#include <algorithm>
#include <cstring>

std::unique_ptr<tagNetMsg> CNetMsgQueue::TakeRecord() {
    if (m_Free.empty()) return std::make_unique<tagNetMsg>();
    std::unique_ptr<tagNetMsg> record = std::move(m_Free.back());
    m_Free.pop_back();
    return record;
}

bool CNetMsgQueue::Push(int poolIndex, int kind, int param, const char* data, int len) {
    const bool wasEmpty = m_Queue.empty();
    std::unique_ptr<tagNetMsg> record = TakeRecord();
    record->poolIndex = poolIndex;
    record->msgType = kind;
    record->param = param;
    const int kept = (data == nullptr || len <= 0) ? 0 : std::min(len, kNetMsgDataSize);
    if (kept > 0) std::memcpy(record->data, data, static_cast<size_t>(kept));
    record->dataLen = kept;
    m_Queue.push_back(std::move(record));
    return wasEmpty;
}

void CNetMsgQueue::TakeRecords(size_t count, std::vector<std::unique_ptr<tagNetMsg>>* records) {
    for (size_t i = 0; i < count; ++i) records->push_back(TakeRecord());
}

bool CNetMsgQueue::PushFilled(std::unique_ptr<tagNetMsg> record, int poolIndex, int len) {
    const bool wasEmpty = m_Queue.empty();
    record->poolIndex = poolIndex;
    record->msgType = NET_MSG_ON_RECV;
    record->param = 0;
    record->dataLen = std::clamp(len, 0, kNetMsgDataSize);
    m_Queue.push_back(std::move(record));
    return wasEmpty;
}

void CNetMsgQueue::GiveBack(std::unique_ptr<tagNetMsg> record) {
    if (m_Free.size() < kMaxFreeRecords) m_Free.push_back(std::move(record));
}

bool CNetMsgQueue::Pop(tagNetMsg* out) {
    if (m_Queue.empty()) return false;
    std::unique_ptr<tagNetMsg> record = std::move(m_Queue.front());
    m_Queue.pop_front();
    out->poolIndex = record->poolIndex;
    out->msgType = record->msgType;
    out->param = record->param;
    out->dataLen = record->dataLen;
    if (record->dataLen > 0) std::memcpy(out->data, record->data, static_cast<size_t>(record->dataLen));
    if (m_Free.size() < kMaxFreeRecords) m_Free.push_back(std::move(record));
    return true;
}

void CNetMsgQueue::Clear() {
    m_Queue.clear();
    m_Free.clear();
}
