#include "modules/QXNetService/NetConnection.h"

#include <algorithm>

CNetConnection::CNetConnection(asio::ip::tcp::socket socket, int poolIndex)
    : m_Socket(std::move(socket)), m_Descriptor(static_cast<int>(m_Socket.native_handle())), m_PoolIndex(poolIndex) {}

size_t CNetConnection::GatherBatch(std::vector<asio::const_buffer>& buffers, size_t maxBuffers,
                                   size_t maxBytes) const {
    return m_Outgoing.Gather(buffers, maxBuffers, maxBytes);
}

size_t CNetConnection::Consume(size_t bytes) { return m_Outgoing.Consume(bytes); }

bool CNetConnection::CountRecordsAreFlood(uint32_t nowMs, int limitPerSecond, int records) {
    if (limitPerSecond <= 0) return false;
    if (m_FloodWindowReads == 0 || nowMs - m_FloodWindowStart >= 1000) {
        m_FloodWindowStart = nowMs;
        m_FloodWindowReads = 0;
    }
    m_FloodWindowReads += records;
    return m_FloodWindowReads > limitPerSecond;
}
