// The 38 numbered statistics of one network service (ENetValue in
// INetService.h). Writers are the service's I/O thread and the callers of its
// operations, gauges being set under the service lock; readers (GetValue,
// the monitoring window) read without any lock, so every value is atomic.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "modules/QXNetService/INetService.h"

class CNetStatistics {
public:
    void Add(ENetValue id, uint64_t amount = 1) { m_Values[id].fetch_add(amount, std::memory_order_relaxed); }
    void Sub(ENetValue id, uint64_t amount = 1) { m_Values[id].fetch_sub(amount, std::memory_order_relaxed); }
    void Set(ENetValue id, uint64_t value) { m_Values[id].store(value, std::memory_order_relaxed); }
    // 0 for an id outside the list, as the monitoring view never asks for one.
    uint64_t Get(int id) const {
        if (id < 0 || id >= NETVALUE_COUNT) return 0;
        return m_Values[static_cast<size_t>(id)].load(std::memory_order_relaxed);
    }

private:
    std::array<std::atomic<uint64_t>, NETVALUE_COUNT> m_Values{};
};
