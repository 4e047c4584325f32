#include "tools/varnsim/InFlightTable.h"

#include <algorithm>

InFlightTable::InFlightTable(uint32_t capacity)
    : m_Entries(std::clamp<uint32_t>(capacity, 1, kMaxCapacity)) {
    m_Free.reserve(m_Entries.size());
    // Highest first, so slot 0 is taken first: easier to read in a trace.
    for (size_t slot = m_Entries.size(); slot > 0; --slot) m_Free.push_back(static_cast<uint16_t>(slot - 1));
}

uint16_t InFlightTable::Take(uint32_t seq, uint64_t sentNs) {
    if (m_Free.empty()) return kNoSlot;
    const uint16_t slot = m_Free.back();
    m_Free.pop_back();
    m_Entries[slot] = Entry{sentNs, seq, true};
    ++m_InFlight;
    m_MaxInFlight = std::max(m_MaxInFlight, m_InFlight);
    return slot;
}

bool InFlightTable::Complete(uint16_t slot, uint32_t seq, uint64_t* sentNs) {
    if (slot >= m_Entries.size()) return false;
    Entry& entry = m_Entries[slot];
    if (!entry.busy || entry.seq != seq) return false;
    entry.busy = false;
    if (sentNs != nullptr) *sentNs = entry.sentNs;
    m_Free.push_back(slot);
    --m_InFlight;
    return true;
}
