#include "tools/varnsim/LatencyStats.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

constexpr uint64_t kLargest = (1ull << 40) - 1;

}  // namespace

LatencyStats::LatencyStats()
    : m_Buckets(kExactLimit + static_cast<size_t>(kMaxExponent - kSubBits) * (1u << kSubBits), 0) {}

size_t LatencyStats::BucketOf(uint64_t micros) {
    if (micros < kExactLimit) return static_cast<size_t>(micros);
    const int exponent = 63 - std::countl_zero(micros);  // >= kSubBits + 1
    const int shift = exponent - kSubBits;
    const uint64_t sub = (micros >> shift) - (1ull << kSubBits);  // 0 .. 1023
    return kExactLimit + static_cast<size_t>(exponent - kSubBits - 1) * (1u << kSubBits) + static_cast<size_t>(sub);
}

uint64_t LatencyStats::LowestOf(size_t bucket) {
    if (bucket < kExactLimit) return bucket;
    const size_t above = bucket - kExactLimit;
    const int exponent = static_cast<int>(above >> kSubBits) + kSubBits + 1;
    const uint64_t sub = above & ((1u << kSubBits) - 1);
    return ((1ull << kSubBits) + sub) << (exponent - kSubBits);
}

void LatencyStats::Record(uint64_t micros) {
    micros = std::min(micros, kLargest);
    ++m_Buckets[BucketOf(micros)];
    m_Min = m_Count == 0 ? micros : std::min(m_Min, micros);
    m_Max = std::max(m_Max, micros);
    m_Sum += static_cast<long double>(micros);
    ++m_Count;
}

void LatencyStats::Merge(const LatencyStats& other) {
    if (other.m_Count == 0) return;
    for (size_t i = 0; i < m_Buckets.size(); ++i) m_Buckets[i] += other.m_Buckets[i];
    m_Min = m_Count == 0 ? other.m_Min : std::min(m_Min, other.m_Min);
    m_Max = std::max(m_Max, other.m_Max);
    m_Sum += other.m_Sum;
    m_Count += other.m_Count;
}

void LatencyStats::Clear() {
    std::fill(m_Buckets.begin(), m_Buckets.end(), 0);
    m_Count = m_Min = m_Max = 0;
    m_Sum = 0;
}

double LatencyStats::Mean() const {
    return m_Count == 0 ? 0.0 : static_cast<double>(m_Sum / static_cast<long double>(m_Count));
}

uint64_t LatencyStats::Percentile(double percent) const {
    if (m_Count == 0) return 0;
    percent = std::clamp(percent, 0.0, 100.0);
    // Nearest rank: the sample at position ceil(p/100 * n), counted from 1.
    // The small allowance keeps 99.9 % of 1000 at rank 999 despite rounding.
    const double exact = percent / 100.0 * static_cast<double>(m_Count);
    uint64_t rank = static_cast<uint64_t>(std::ceil(exact - 1e-9));
    rank = std::clamp<uint64_t>(rank, 1, m_Count);
    const size_t maxBucket = BucketOf(m_Max);
    uint64_t seen = 0;
    for (size_t bucket = 0; bucket <= maxBucket; ++bucket) {
        seen += m_Buckets[bucket];
        if (seen >= rank) return bucket == maxBucket ? m_Max : std::max(LowestOf(bucket), m_Min);
    }
    return m_Max;
}
