#include "tools/varnsim/LatencyStats.h"

#include <gtest/gtest.h>

namespace {

TEST(LatencyStatsTest, EmptyStatsAnswerZero) {
    LatencyStats stats;
    EXPECT_EQ(stats.Count(), 0u);
    EXPECT_EQ(stats.Percentile(50), 0u);
    EXPECT_EQ(stats.Min(), 0u);
    EXPECT_EQ(stats.Max(), 0u);
    EXPECT_EQ(stats.Mean(), 0.0);
}

TEST(LatencyStatsTest, SmallValuesGiveExactNearestRankPercentiles) {
    LatencyStats stats;
    // Recorded out of order: the histogram must not depend on arrival order.
    for (uint64_t value = 1000; value >= 1; --value) stats.Record(value);
    EXPECT_EQ(stats.Count(), 1000u);
    EXPECT_EQ(stats.Percentile(50), 500u);
    EXPECT_EQ(stats.Percentile(99), 990u);
    EXPECT_EQ(stats.Percentile(99.9), 999u);
    EXPECT_EQ(stats.Percentile(100), 1000u);
    EXPECT_EQ(stats.Percentile(0), 1u);
    EXPECT_EQ(stats.Min(), 1u);
    EXPECT_EQ(stats.Max(), 1000u);
    EXPECT_DOUBLE_EQ(stats.Mean(), 500.5);
}

TEST(LatencyStatsTest, RareSlowSamplesShowOnlyInTheHighPercentiles) {
    LatencyStats stats;
    for (int i = 0; i < 990; ++i) stats.Record(20);
    for (int i = 0; i < 9; ++i) stats.Record(400);
    stats.Record(1500);
    EXPECT_EQ(stats.Percentile(50), 20u);
    EXPECT_EQ(stats.Percentile(99), 20u);
    EXPECT_EQ(stats.Percentile(99.1), 400u);
    EXPECT_EQ(stats.Percentile(99.9), 400u);
    EXPECT_EQ(stats.Percentile(99.95), 1500u);
}

TEST(LatencyStatsTest, LargeValuesStayWithinATenthOfAPercent) {
    LatencyStats stats;
    const uint64_t values[] = {2048, 3001, 65537, 1234567, 987654321};
    for (uint64_t value : values) {
        stats.Clear();
        stats.Record(value);
        stats.Record(value * 4);  // keeps `value` out of the maximum's bucket
        const uint64_t p50 = stats.Percentile(50);
        EXPECT_LE(p50, value);
        EXPECT_GE(static_cast<double>(p50), static_cast<double>(value) * 0.999) << value;
        EXPECT_EQ(stats.Percentile(100), value * 4);
    }
}

TEST(LatencyStatsTest, HugeValuesAreClampedNotLost) {
    LatencyStats stats;
    stats.Record(UINT64_MAX);
    stats.Record(5);
    EXPECT_EQ(stats.Count(), 2u);
    EXPECT_EQ(stats.Percentile(50), 5u);
    EXPECT_EQ(stats.Max(), (1ull << 40) - 1);
}

TEST(LatencyStatsTest, MergeAddsSamplesOfAnotherConnection) {
    LatencyStats first;
    LatencyStats second;
    for (uint64_t value = 1; value <= 50; ++value) first.Record(value);
    for (uint64_t value = 51; value <= 100; ++value) second.Record(value);
    first.Merge(second);
    EXPECT_EQ(first.Count(), 100u);
    EXPECT_EQ(first.Percentile(50), 50u);
    EXPECT_EQ(first.Percentile(99), 99u);
    EXPECT_EQ(first.Min(), 1u);
    EXPECT_EQ(first.Max(), 100u);
}

}  // namespace
