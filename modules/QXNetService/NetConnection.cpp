#include "modules/QXNetService/NetConnection.h"

#include <algorithm>

CNetConnection::CNetConnection(asio::ip::tcp::socket socket, int poolIndex)
    : m_Socket(std::move(socket)), m_Descriptor(static_cast<int>(m_Socket.native_handle())), m_PoolIndex(poolIndex) {}

void CNetConnection::Append(const char* data, size_t len) {
    m_Outgoing.emplace_back(data, data + len);
    m_QueuedBytes += len;
}

size_t CNetConnection::GatherBatch(std::vector<asio::const_buffer>& buffers, size_t maxBuffers,
                                   size_t maxBytes) const {
    buffers.clear();
    size_t total = 0;
    size_t offset = m_FrontOffset;
    for (const auto& entry : m_Outgoing) {
        if (buffers.size() >= maxBuffers || total >= maxBytes) break;
        const size_t len = entry.size() - offset;
        buffers.emplace_back(entry.data() + offset, len);
        total += len;
        offset = 0;
    }
    return total;
}

size_t CNetConnection::Consume(size_t bytes) {
    size_t completed = 0;
    while (bytes > 0 && !m_Outgoing.empty()) {
        const size_t left = m_Outgoing.front().size() - m_FrontOffset;
        if (bytes < left) {
            m_FrontOffset += bytes;
            return completed;
        }
        bytes -= left;
        m_QueuedBytes -= m_Outgoing.front().size();
        m_Outgoing.pop_front();
        m_FrontOffset = 0;
        ++completed;
    }
    return completed;
}

void CNetConnection::DiscardQueue() {
    m_Outgoing.clear();
    m_QueuedBytes = 0;
    m_FrontOffset = 0;
}

bool CNetConnection::CountRecordsAreFlood(uint32_t nowMs, int limitPerSecond, int records) {
    if (limitPerSecond <= 0) return false;
    if (m_FloodWindowReads == 0 || nowMs - m_FloodWindowStart >= 1000) {
        m_FloodWindowStart = nowMs;
        m_FloodWindowReads = 0;
    }
    m_FloodWindowReads += records;
    return m_FloodWindowReads > limitPerSecond;
}
