// InFlightTable: the packets one peer connection has sent and not yet seen
// answered, never more than its capacity (the window). Each sent packet takes
// a free slot; the slot number and the sequence number travel in the payload,
// so a reply is matched in constant time in whatever order replies come, and
// a stale, doubled or foreign reply (slot free, or holding another sequence)
// is told apart. Sized once; not locked: the event loop owns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class InFlightTable {
public:
    static constexpr uint32_t kMaxCapacity = 65535;  // the slot travels as 16 bits
    static constexpr uint16_t kNoSlot = 0xFFFF;      // a packet that waits for no reply

    explicit InFlightTable(uint32_t capacity);

    uint32_t Capacity() const { return static_cast<uint32_t>(m_Entries.size()); }
    uint32_t InFlight() const { return m_InFlight; }
    uint32_t MaxInFlight() const { return m_MaxInFlight; }
    bool Full() const { return m_Free.empty(); }

    // Takes a free slot for `seq` sent at `sentNs` and returns it; kNoSlot
    // when the table is full.
    uint16_t Take(uint32_t seq, uint64_t sentNs);
    // Frees `slot` when it waits for `seq`, giving back its send time;
    // false (and nothing changes) for any other reply.
    bool Complete(uint16_t slot, uint32_t seq, uint64_t* sentNs);

private:
    struct Entry {
        uint64_t sentNs = 0;
        uint32_t seq = 0;
        bool busy = false;
    };

    std::vector<Entry> m_Entries;
    std::vector<uint16_t> m_Free;  // stack of free slots
    uint32_t m_InFlight = 0;
    uint32_t m_MaxInFlight = 0;
};
