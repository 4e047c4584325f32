// LatencyStats: round-trip times in microseconds kept as a histogram, exact
// below 2048 us and to 1/1024 of the value above (up to about 12 days), so a
// run of any length costs one fixed table and no allocation per sample.
// Percentiles are nearest-rank. Not locked: the simulator's event loop owns it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class LatencyStats {
public:
    LatencyStats();

    void Record(uint64_t micros);
    void Merge(const LatencyStats& other);
    void Clear();

    uint64_t Count() const { return m_Count; }
    uint64_t Min() const { return m_Count == 0 ? 0 : m_Min; }
    uint64_t Max() const { return m_Max; }
    double Mean() const;
    // The smallest recorded value that at least `percent` % of the samples
    // do not exceed, to the resolution of its bucket (the bucket's lowest
    // value, or the maximum itself in the maximum's bucket); 0 when empty.
    uint64_t Percentile(double percent) const;

private:
    static constexpr int kSubBits = 10;                       // 1024 buckets per power of two
    static constexpr uint64_t kExactLimit = 2ull << kSubBits;  // 2048: one bucket per value below
    static constexpr int kMaxExponent = 39;                   // values clamp below 2^40 us

    static size_t BucketOf(uint64_t micros);
    static uint64_t LowestOf(size_t bucket);

    std::vector<uint64_t> m_Buckets;
    uint64_t m_Count = 0;
    uint64_t m_Min = 0;
    uint64_t m_Max = 0;
    long double m_Sum = 0;
};
