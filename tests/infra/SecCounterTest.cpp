#include "infra/SecCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Tick.h"

namespace {

TEST(SecCounterTest, FirstEventThenReadTwoSecondsLater) {
    plat::TestClock clock(10000);
    SecCounter counter(1000);
    counter.AddBytes(3000);
    clock.Advance(2000);
    EXPECT_EQ(counter.GetByteRate(), 1500);
    EXPECT_EQ(counter.GetCountRate(), 0);  // the opening event is not counted in the window
    EXPECT_EQ(counter.GetTotalBytes(), 3000u);
    EXPECT_EQ(counter.GetRateText(), "1.46 kb/s, total: 2.93 kb Cnt: 0");
}

TEST(SecCounterTest, FreshCounterShowsZeros) {
    plat::TestClock clock(500);
    SecCounter counter(1000);
    EXPECT_EQ(counter.GetRateText(), "0.00 kb/s, total: 0.00 kb Cnt: 0");
}

TEST(SecCounterTest, FullWindowGivesRatesPerPeriod) {
    plat::TestClock clock(1000);
    SecCounter counter(1000);
    counter.AddCount(1);  // opens the window
    for (int i = 0; i < 10; ++i) counter.AddBytes(100);
    clock.Advance(500);
    EXPECT_EQ(counter.GetByteRate(), 0);  // window not complete yet
    clock.Advance(500);
    EXPECT_EQ(counter.GetByteRate(), 1000);
    EXPECT_EQ(counter.GetCountRate(), 10);
    EXPECT_EQ(counter.GetRateText(), "0.98 kb/s, total: 0.98 kb Cnt: 10");
}

TEST(SecCounterTest, ABatchCountsAsItsEventsAndItsBytes) {
    plat::TestClock clock(1000);
    SecCounter counter(1000);
    counter.AddEvents(3, 300);  // opens the window, like a lone first event
    counter.AddEvents(7, 700);
    counter.AddBytes(100);
    counter.AddEvents(0, 0);
    clock.Advance(1000);
    EXPECT_EQ(counter.GetByteRate(), 1100);
    EXPECT_EQ(counter.GetCountRate(), 8);
    EXPECT_EQ(counter.GetTotalBytes(), 1100u);
}

TEST(SecCounterTest, UntouchedCounterKeepsItsLastRate) {
    plat::TestClock clock(1000);
    SecCounter counter(1000);
    counter.AddCount(1);
    counter.AddBytes(4000);
    clock.Advance(1000);
    EXPECT_EQ(counter.GetByteRate(), 4000);
    clock.Advance(300);
    EXPECT_EQ(counter.GetByteRate(), 4000);
    clock.Advance(700);  // a new window that saw nothing
    EXPECT_EQ(counter.GetByteRate(), 0);
}

TEST(SecCounterTest, CallsInTheSameMillisecondNeverDivideByZero) {
    plat::TestClock clock(77);
    SecCounter zeroPeriod(0);
    zeroPeriod.AddBytes(10);
    zeroPeriod.AddBytes(10);
    EXPECT_EQ(zeroPeriod.GetByteRate(), 0);
    EXPECT_EQ(zeroPeriod.GetTotalBytes(), 20u);
    SecCounter counter(1000);
    counter.AddBytes(10);
    counter.AddBytes(10);
    EXPECT_EQ(counter.GetCountRate(), 0);
}

TEST(SecCounterTest, TickWrapIsMeasuredByUnsignedDifference) {
    plat::TestClock clock(0xFFFFFF00u);
    SecCounter counter(1000);
    counter.AddCount(1);
    counter.AddBytes(2000);
    clock.Advance(0x200);  // 512 ms, across the wrap
    EXPECT_EQ(counter.GetByteRate(), 0);
    clock.Advance(1488);  // 2000 ms in all
    EXPECT_EQ(counter.GetByteRate(), 1000);
}

TEST(SecCounterTest, ResetReturnsToAFreshCounter) {
    plat::TestClock clock(1000);
    SecCounter counter(1000);
    counter.AddCount(1);
    counter.AddBytes(5000);
    clock.Advance(1000);
    ASSERT_EQ(counter.GetByteRate(), 5000);
    counter.Reset();
    EXPECT_EQ(counter.GetTotalBytes(), 0u);
    EXPECT_EQ(counter.GetRateText(), "0.00 kb/s, total: 0.00 kb Cnt: 0");
}

TEST(SecCounterTest, TotalIsSixtyFourBits) {
    plat::TestClock clock(1);
    SecCounter counter(1000);
    for (int i = 0; i < 3; ++i) counter.AddBytes(0xFFFFFFFFu);
    EXPECT_EQ(counter.GetTotalBytes(), 3ull * 0xFFFFFFFFu);
}

TEST(SecCounterTest, ConcurrentFeedersKeepAnExactTotal) {
    SecCounter counter(1000);
    constexpr int kThreads = 4;
    constexpr int kEvents = 50000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&counter] {
            for (int i = 0; i < kEvents; ++i) counter.AddBytes(3);
        });
    }
    threads.emplace_back([&counter] {
        for (int i = 0; i < 1000; ++i) (void)counter.GetRateText();
    });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter.GetTotalBytes(), 3ull * kThreads * kEvents);
}

// Feeders on four threads while the clock moves on by whole periods: each
// event is counted in exactly one window, whichever thread rolls it, and a
// feeder that read the tick just before a roll does not spoil the window.
// The clock moves at most 50 periods in all, so no feeder's tick is ever
// older than a stale tick can be in service.
TEST(SecCounterTest, WindowRollsUnderConcurrentFeedingLoseNoEvent) {
    plat::TestClock clock(1000);
    SecCounter counter(1000);
    counter.AddCount(1);  // opens the window
    constexpr int kThreads = 4;
    constexpr int kEvents = 50000;
    constexpr int kWindows = 50;
    std::atomic<int> fed{0};
    std::vector<std::thread> feeders;
    for (int t = 0; t < kThreads; ++t) {
        feeders.emplace_back([&] {
            for (int i = 0; i < kEvents; ++i) {
                counter.AddBytes(1);
                fed.fetch_add(1, std::memory_order_relaxed);
            }
        });
    }
    int64_t counted = 0;
    int64_t bytes = 0;
    auto closeWindow = [&] {
        clock.Advance(1000);
        counted += counter.GetCountRate();
        bytes += counter.GetByteRate();
    };
    for (int window = 1; window <= kWindows; ++window) {
        while (fed.load(std::memory_order_relaxed) < window * kThreads * kEvents / (kWindows + 1)) {
            std::this_thread::yield();
        }
        closeWindow();
    }
    for (auto& feeder : feeders) feeder.join();
    closeWindow();
    EXPECT_EQ(counted, int64_t{kThreads} * kEvents);
    EXPECT_EQ(bytes, int64_t{kThreads} * kEvents);
    EXPECT_EQ(counter.GetTotalBytes(), uint64_t{kThreads} * kEvents);
}

TEST(SecCounterTest, TickFromBeforeTheLastRollLeavesTheWindowAlone) {
    plat::TestClock clock(5000);
    SecCounter counter(1000);
    counter.AddCount(1);
    counter.AddBytes(700);
    clock.Advance(1000);
    ASSERT_EQ(counter.GetByteRate(), 700);  // rolled at 6000
    counter.AddBytes(300);
    clock.Set(5999);  // what a feeder that read the tick before the roll passes in
    counter.AddBytes(100);
    clock.Set(6000);
    EXPECT_EQ(counter.GetByteRate(), 700);
    clock.Set(7000);
    EXPECT_EQ(counter.GetByteRate(), 400);
}

}  // namespace
