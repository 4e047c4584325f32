#include "lib/TestLib/PackBuffer.h"

#include <algorithm>
#include <cstring>

#include "infra/Log.h"
#include "infra/SourceLocation.h"

PackBufer::PackBufer(int capacity)
    : m_Capacity(std::max(capacity, 0)), m_Storage(new char[static_cast<size_t>(m_Capacity)]()) {
    if (capacity > kHugeCapacity) {
        GetLog()->LogWarn("%s Huge Packet Len:%d", LocationText().c_str(), capacity);
    }
}

bool PackBufer::Append(const char* data, int len) {
    char* tail = Tail(len);
    if (tail == nullptr) return false;
    if (len > 0) std::memcpy(tail, data, static_cast<size_t>(len));
    m_Used += len;
    return true;
}

char* PackBufer::Tail(int len) {
    if (len < 0 || static_cast<long long>(m_Used) + len >= static_cast<long long>(m_Capacity) - 1) return nullptr;
    return m_Storage.get() + m_Used;
}

void PackBufer::Commit(int len) {
    if (Tail(len) != nullptr) m_Used += len;
}

void PackBufer::Clear() {
    // Only the used part can hold anything but zeros.
    std::memset(m_Storage.get(), 0, static_cast<size_t>(m_Used));
    m_Used = 0;
}
