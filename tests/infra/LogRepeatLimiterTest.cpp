// LogRepeatLimiter on a pinned clock: first lines pass, repeats are counted
// and summarised once per interval, per source and kind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "infra/LogRepeatLimiter.h"
#include "platform/Tick.h"

namespace {

// Lines a caller would write for `count` lines of one pair.
int WrittenOf(LogRepeatLimiter& limiter, const std::string& source, const std::string& kind, int count,
              std::vector<std::string>* summaries = nullptr) {
    int written = 0;
    for (int i = 0; i < count; ++i) {
        const LogRepeatLimiter::Verdict verdict = limiter.Admit(source, kind);
        if (!verdict.summary.empty()) {
            ++written;
            if (summaries != nullptr) summaries->push_back(verdict.summary);
        }
        if (verdict.write) ++written;
    }
    return written;
}

TEST(LogRepeatLimiterTest, TheFirstFiveLinesOfAKindPassAndTheRestAreHeldBack) {
    plat::TestClock clock(1000);
    LogRepeatLimiter limiter;
    EXPECT_EQ(WrittenOf(limiter, "10.0.0.1", "PackError", 1000), 5);
    EXPECT_TRUE(limiter.TakeDue().empty());  // the interval is not over yet
}

TEST(LogRepeatLimiterTest, HeldBackLinesBecomeOneSummaryPerInterval) {
    plat::TestClock clock(1000);
    LogRepeatLimiter limiter;
    WrittenOf(limiter, "10.0.0.1", "PackError", 5 + 300);
    clock.Advance(10000);
    std::vector<std::string> summaries;
    // The next line after the interval carries the summary and is itself counted.
    EXPECT_EQ(WrittenOf(limiter, "10.0.0.1", "PackError", 1, &summaries), 1);
    EXPECT_EQ(summaries, std::vector<std::string>{"10.0.0.1: 300 more PackError lines in the last 10 s"});
    clock.Advance(10000);
    EXPECT_EQ(limiter.TakeDue(), std::vector<std::string>{"10.0.0.1: 1 more PackError lines in the last 10 s"});
    EXPECT_TRUE(limiter.TakeDue().empty());
}

TEST(LogRepeatLimiterTest, AnHourOfFloodWritesAboutOneLinePerIntervalAndKind) {
    plat::TestClock clock(1000);
    LogRepeatLimiter limiter;
    int written = 0;
    for (int second = 0; second < 3600; ++second) {
        written += WrittenOf(limiter, "10.0.0.1", "PackError", 1000);
        written += WrittenOf(limiter, "10.0.0.1", "Unknown ServerType", 1000);
        written += static_cast<int>(limiter.TakeDue().size());
        clock.Advance(1000);
    }
    EXPECT_LE(written, 2 * (5 + 360 + 1));
}

TEST(LogRepeatLimiterTest, SourcesAndKindsAreCountedApart) {
    plat::TestClock clock(1000);
    LogRepeatLimiter limiter;
    EXPECT_EQ(WrittenOf(limiter, "10.0.0.1", "PackError", 20), 5);
    EXPECT_EQ(WrittenOf(limiter, "10.0.0.2", "PackError", 20), 5);
    EXPECT_EQ(WrittenOf(limiter, "10.0.0.1", "bad frame", 20), 5);
}

TEST(LogRepeatLimiterTest, FlushGivesTheSummaryAtOnceButAReconnectStaysLimited) {
    plat::TestClock clock(1000);
    LogRepeatLimiter limiter;
    WrittenOf(limiter, "10.0.0.1", "bad frame", 8);
    clock.Advance(2000);
    EXPECT_EQ(limiter.Flush("10.0.0.1"), std::vector<std::string>{"10.0.0.1: 3 more bad frame lines in the last 2 s"});
    EXPECT_EQ(WrittenOf(limiter, "10.0.0.1", "bad frame", 4), 0);
}

TEST(LogRepeatLimiterTest, APairQuietForAnIntervalStartsAfresh) {
    plat::TestClock clock(1000);
    LogRepeatLimiter limiter(5, 10000, 2);
    WrittenOf(limiter, "10.0.0.1", "bad frame", 5);
    clock.Advance(10000);
    // The table is full at 2 entries; the quiet one makes room.
    WrittenOf(limiter, "10.0.0.2", "bad frame", 1);
    EXPECT_EQ(WrittenOf(limiter, "10.0.0.3", "bad frame", 1), 1);
    EXPECT_LE(limiter.Entries(), 2u);
}

TEST(LogRepeatLimiterTest, BeyondTheTableBoundNewSourcesShareOneEntry) {
    plat::TestClock clock(1000);
    LogRepeatLimiter limiter(5, 10000, 4);
    int written = 0;
    for (int peer = 0; peer < 1000; ++peer) written += WrittenOf(limiter, "10.0." + std::to_string(peer), "bad frame", 1);
    EXPECT_EQ(limiter.Entries(), 4u);
    EXPECT_EQ(written, 3 + 5);
    clock.Advance(10000);
    EXPECT_EQ(limiter.TakeDue(), std::vector<std::string>{"other peers: 992 more bad frame lines in the last 10 s"});
}

}  // namespace
