// SecCounter: turns a stream of events of some bytes each into a per-period
// byte rate, a per-period event rate and a 64-bit byte total. A rate is only
// recomputed when an operation runs at least one period after the current
// window started, so a counter nobody touches keeps showing its last rate.
// Every operation may be called from any thread at once (network threads
// feed, the window thread reads). It is fed on every packet, so feeding is
// a few relaxed atomic adds and a read of the coarse tick; only the roll to
// a new window, once a period, takes a lock. Rates are display values: an
// event that lands while another thread rolls the window counts in one
// window or the next, and a few milliseconds of tick resolution on a
// one-second window do not show. The byte total is always exact.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// What one thread counts during a batch of packets, fed to the counters
// once the batch is done: one atomic add per counter and batch instead of
// one per packet.
struct EventTally {
    uint32_t events = 0;
    uint64_t bytes = 0;
    void Add(uint32_t n) {
        ++events;
        bytes += n;
    }
    // The tally so far, and a fresh one from here.
    EventTally Take() {
        const EventTally taken = *this;
        *this = EventTally{};
        return taken;
    }
};

class SecCounter {
public:
    explicit SecCounter(uint32_t periodMs);
    SecCounter(const SecCounter&) = delete;
    SecCounter& operator=(const SecCounter&) = delete;

    // One event of n bytes.
    void AddBytes(uint32_t n);
    // `events` events of `bytes` bytes between them: what a batch of packets
    // adds, at the cost of one event. A batch that opens the first window is
    // left out of its count, as a lone event is.
    void AddEvents(uint32_t events, uint64_t bytes);
    // n events without bytes.
    void AddCount(uint32_t n);

    int32_t GetCountRate();
    int32_t GetByteRate();
    uint64_t GetTotalBytes();
    // "%0.2f kb/s, total: %0.2f kb Cnt: %d": byte rate and total in KiB, event rate.
    std::string GetRateText();

    // Back to the state of a fresh counter (a connection slot reused for a new peer).
    void Reset();

private:
    // Rolls the window when it is due; the common case, a window still
    // running, costs one atomic load and no lock.
    void Update(uint32_t now);
    void UpdateLocked(uint32_t now);

    std::mutex m_RollMutex;  // serialises window rolls and Reset; feeders never take it
    // Ticks are 32-bit milliseconds compared by unsigned difference, so the
    // tick's wrap is harmless.
    std::atomic<uint32_t> m_FirstTick{0};
    std::atomic<uint32_t> m_WindowStart{0};  // 0 until the first update
    std::atomic<int32_t> m_CountRate{0};
    std::atomic<uint32_t> m_CountAccumulator{0};
    const uint32_t m_Period;
    std::atomic<int32_t> m_ByteRate{0};
    std::atomic<uint32_t> m_ByteAccumulator{0};
    std::atomic<uint64_t> m_TotalBytes{0};
};
