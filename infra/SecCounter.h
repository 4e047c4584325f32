// SecCounter: turns a stream of events of some bytes each into a per-period
// byte rate, a per-period event rate and a 64-bit byte total. A rate is only
// recomputed when an operation runs at least one period after the current
// window started, so a counter nobody touches keeps showing its last rate.
// Every operation may be called from any thread at once (network threads
// feed, the window thread reads); a small lock keeps the fields consistent.
// It is fed on every packet, so it reads the coarse tick: rates are display
// values, and a few milliseconds of resolution on a one-second window do
// not show.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

class SecCounter {
public:
    explicit SecCounter(uint32_t periodMs);
    SecCounter(const SecCounter&) = delete;
    SecCounter& operator=(const SecCounter&) = delete;

    // One event of n bytes.
    void AddBytes(uint32_t n);
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
    void UpdateLocked(uint32_t now);

    std::mutex m_Mutex;
    // All fields below are guarded by m_Mutex; ticks are 32-bit milliseconds
    // compared by unsigned difference, so the tick's wrap is harmless.
    uint32_t m_FirstTick = 0;
    uint32_t m_WindowStart = 0;  // 0 until the first update
    int32_t m_CountRate = 0;
    uint32_t m_CountAccumulator = 0;
    const uint32_t m_Period;
    int32_t m_ByteRate = 0;
    uint32_t m_ByteAccumulator = 0;
    uint64_t m_TotalBytes = 0;
};
