#include "modules/SSNetCore/SSPacketQueue.h"

#include <utility>

CSSPacketQueue::CSSPacketQueue(size_t maxPackets, size_t maxBytes) : m_MaxPackets(maxPackets), m_MaxBytes(maxBytes) {}

bool CSSPacketQueue::Push(std::string&& body) {
    std::lock_guard lock(m_Mutex);
    if (m_Bodies.size() >= m_MaxPackets || body.size() > m_MaxBytes - m_Bytes) {
        ++m_Dropped;
        return false;
    }
    m_Bytes += body.size();
    m_Bodies.push_back(std::move(body));
    return true;
}

bool CSSPacketQueue::Pop(std::string& body) {
    std::lock_guard lock(m_Mutex);
    if (m_Bodies.empty()) return false;
    body = std::move(m_Bodies.front());
    m_Bodies.pop_front();
    m_Bytes -= body.size();
    return true;
}

size_t CSSPacketQueue::Size() const {
    std::lock_guard lock(m_Mutex);
    return m_Bodies.size();
}

uint64_t CSSPacketQueue::Dropped() const {
    std::lock_guard lock(m_Mutex);
    return m_Dropped;
}

void CSSPacketQueue::Clear() {
    std::lock_guard lock(m_Mutex);
    m_Bodies.clear();
    m_Bytes = 0;
}
