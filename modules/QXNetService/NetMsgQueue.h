// The FIFO of message records that GetMsg() drains, with a small free list
// so a steady stream of reads does not allocate 4 KB per record. It has no
// lock of its own: the service holds its lock around every call, because a
// pop also changes the state of the slot the record is about.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "modules/QXNetService/INetService.h"

class CNetMsgQueue {
public:
    CNetMsgQueue() = default;
    CNetMsgQueue(const CNetMsgQueue&) = delete;
    CNetMsgQueue& operator=(const CNetMsgQueue&) = delete;

    // Appends a record; len is clipped to the record's 4096 data bytes.
    // Returns true when the queue was empty before.
    bool Push(int poolIndex, int kind, int param, const char* data, int len);
    // Copies the oldest record into *out (header and the valid data bytes
    // only) and recycles it; false when empty.
    bool Pop(tagNetMsg* out);
    void Clear();
    // Records for a read to fill in place: `count` more, from the free
    // list while it lasts, appended to *records.
    void TakeRecords(size_t count, std::vector<std::unique_ptr<tagNetMsg>>* records);
    // Appends a kind-101 record whose first `len` data bytes (1..4096) a
    // read filled in place; true when the queue was empty before.
    bool PushFilled(std::unique_ptr<tagNetMsg> record, int poolIndex, int len);
    // A record taken and not filled goes back to the free list.
    void GiveBack(std::unique_ptr<tagNetMsg> record);

    size_t Count() const { return m_Queue.size(); }
    size_t AllocatedRecords() const { return m_Queue.size() + m_Free.size(); }
    size_t FreeRecords() const { return m_Free.size(); }

private:
    // Records kept for reuse beyond this are given back to the heap, so one
    // burst does not pin its peak memory for the service's lifetime.
    static constexpr size_t kMaxFreeRecords = 256;

    std::unique_ptr<tagNetMsg> TakeRecord();

    std::deque<std::unique_ptr<tagNetMsg>> m_Queue;
    std::vector<std::unique_ptr<tagNetMsg>> m_Free;
};
