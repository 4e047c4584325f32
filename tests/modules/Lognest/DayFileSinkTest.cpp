// The day files on their own, fed with entries whose stamps the test picks,
// so the day switch and the exact line text can be checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>

#include "modules/Lognest/DayFileSink.h"
#include "modules/Lognest/LocalTime.h"
#include "modules/Lognest/LogService.h"
#include "tests/support/TestFiles.h"

namespace {

using lognest::DayFileSink;
using lognest::LogEntry;
using lognest::LogTime;
using testsupport::FileNames;
using testsupport::ReadLines;
using testsupport::TempDir;
using testing::ElementsAre;

// A local wall-clock moment.
LogTime Local(int year, int month, int day, int hour, int minute, int second, int millis) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local)) + std::chrono::milliseconds(millis);
}

LogEntry Entry(int level, LogTime time, std::string text, int threadId = 4242) {
    LogEntry entry;
    entry.level = level;
    entry.time = time;
    entry.threadId = threadId;
    entry.text = std::move(text);
    return entry;
}

class DayFileSinkTest : public testing::Test {
protected:
    void SetUp() override { m_Sink.SetLocation(Dir(), "Varnholt"); }
    std::string Dir() const { return m_Root.Path() + "/logs/"; }

    TempDir m_Root;
    DayFileSink m_Sink{""};
};

TEST(DayFileNameTest, NamesCarryServerInfixAndDate) {
    EXPECT_EQ(DayFileSink::FileName("Varnholt", "", "2026-12-08"), "Varnholt_2026-12-08.log");
    EXPECT_EQ(DayFileSink::FileName("Varnholt", "Warn", "2026-12-08"), "Varnholt_Warn_2026-12-08.log");
}

TEST(LocalTimeTest, StampAndDayOfALocalMoment) {
    const LogTime moment = Local(2026, 12, 8, 20, 33, 10, 123);
    EXPECT_EQ(lognest::FormatStamp(moment), "2026-12-08 20:33:10.123");
    const auto day = lognest::LocalDayOf(moment);
    EXPECT_EQ(day.date, "2026-12-08");
    EXPECT_EQ(day.start, Local(2026, 12, 8, 0, 0, 0, 0));
    EXPECT_EQ(day.end, Local(2026, 12, 9, 0, 0, 0, 0));
    EXPECT_TRUE(day.Contains(Local(2026, 12, 8, 23, 59, 59, 999)));
    EXPECT_FALSE(day.Contains(Local(2026, 12, 9, 0, 0, 0, 0)));
}

TEST(LocalTimeTest, DayRunsOverMonthAndYearEnds) {
    EXPECT_EQ(lognest::LocalDayOf(Local(2026, 12, 31, 12, 0, 0, 0)).end, Local(2027, 1, 1, 0, 0, 0, 0));
    EXPECT_EQ(lognest::LocalDayOf(Local(2028, 2, 28, 12, 0, 0, 0)).end, Local(2028, 2, 29, 0, 0, 0, 0));
}

// Runs the test body in another time zone (POSIX rule, no zone files needed).
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) m_Old = old, m_HadOld = true;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (m_HadOld) {
            ::setenv("TZ", m_Old.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::string m_Old;
    bool m_HadOld = false;
};

TEST(LocalTimeTest, DaysOfClockChangesAreShortAndLong) {
    ScopedTimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    const auto spring = lognest::LocalDayOf(Local(2026, 3, 29, 12, 0, 0, 0));
    EXPECT_EQ(spring.date, "2026-03-29");
    EXPECT_EQ(spring.start, Local(2026, 3, 29, 0, 0, 0, 0));
    EXPECT_EQ(spring.end - spring.start, std::chrono::hours(23));
    const auto autumn = lognest::LocalDayOf(Local(2026, 10, 25, 23, 59, 59, 999));
    EXPECT_EQ(autumn.date, "2026-10-25");
    EXPECT_EQ(autumn.end - autumn.start, std::chrono::hours(25));
}

TEST(LocalTimeTest, DayWhoseMidnightIsSkippedStartsAtTheChange) {
    // Clocks jump from 00:00 to 01:00 on the first Sunday of September.
    ScopedTimeZone zone("AAA3BBB,M9.1.0/0,M4.1.0/0");
    const auto day = lognest::LocalDayOf(Local(2026, 9, 6, 12, 0, 0, 0));
    EXPECT_EQ(day.date, "2026-09-06");
    EXPECT_EQ(day.start, lognest::LocalDayOf(Local(2026, 9, 5, 12, 0, 0, 0)).end);
    EXPECT_EQ(lognest::FormatStamp(day.start), "2026-09-06 01:00:00.000");
    EXPECT_EQ(day.end - day.start, std::chrono::hours(23));
}

TEST_F(DayFileSinkTest, LineIsStampLevelNameThreadAndText) {
    m_Sink.Write(Entry(llWarn, Local(2026, 12, 8, 20, 33, 10, 123), "text"));
    m_Sink.Write(Entry(llInfo, Local(2026, 12, 8, 20, 33, 10, 124), "info %d stays", 77));
    m_Sink.Flush();
    EXPECT_THAT(ReadLines(Dir() + "Varnholt_2026-12-08.log"),
                ElementsAre("2026-12-08 20:33:10.123 [ Warn] [4242] text",
                            "2026-12-08 20:33:10.124 [ Info] [77] info %d stays"));
}

TEST_F(DayFileSinkTest, EntryGoesToTheDayOfItsOwnStampEvenWhenWrittenLater) {
    m_Sink.Write(Entry(llInfo, Local(2026, 12, 8, 23, 59, 59, 998), "before midnight"));
    m_Sink.Write(Entry(llInfo, Local(2026, 12, 9, 0, 0, 0, 1), "after midnight"));
    // Made at 23:59:59.999 on another thread, queued behind the one above.
    m_Sink.Write(Entry(llInfo, Local(2026, 12, 8, 23, 59, 59, 999), "late"));
    m_Sink.Write(Entry(llInfo, Local(2026, 12, 9, 0, 0, 0, 2), "next"));
    m_Sink.Flush();
    EXPECT_THAT(FileNames(Dir()), ElementsAre("Varnholt_2026-12-08.log", "Varnholt_2026-12-09.log"));
    EXPECT_THAT(ReadLines(Dir() + "Varnholt_2026-12-08.log"),
                ElementsAre("2026-12-08 23:59:59.998 [ Info] [4242] before midnight",
                            "2026-12-08 23:59:59.999 [ Info] [4242] late"));
    EXPECT_THAT(ReadLines(Dir() + "Varnholt_2026-12-09.log"),
                ElementsAre("2026-12-09 00:00:00.001 [ Info] [4242] after midnight",
                            "2026-12-09 00:00:00.002 [ Info] [4242] next"));
}

TEST_F(DayFileSinkTest, WarnInfixNamesTheWarnFile) {
    DayFileSink warn(lognest::kWarnFileInfix);
    warn.SetLocation(Dir(), "Varnholt");
    warn.Write(Entry(llFatal, Local(2026, 3, 1, 1, 2, 3, 4), "down"));
    warn.Flush();
    EXPECT_THAT(ReadLines(Dir() + "Varnholt_Warn_2026-03-01.log"),
                ElementsAre("2026-03-01 01:02:03.004 [Fatal] [4242] down"));
}

TEST_F(DayFileSinkTest, ReopenedFileIsAppendedNotTruncated) {
    m_Sink.Write(Entry(llInfo, Local(2026, 5, 5, 10, 0, 0, 0), "first"));
    m_Sink.SetLocation(m_Root.Path() + "/other/", "Varnholt");
    m_Sink.Write(Entry(llInfo, Local(2026, 5, 5, 10, 0, 1, 0), "elsewhere"));
    m_Sink.SetLocation(Dir(), "Varnholt");
    m_Sink.Write(Entry(llInfo, Local(2026, 5, 5, 10, 0, 2, 0), "second"));
    m_Sink.Flush();
    std::vector<std::string> texts;
    for (const auto& line : ReadLines(Dir() + "Varnholt_2026-05-05.log")) texts.push_back(testsupport::LineText(line));
    EXPECT_THAT(texts, ElementsAre("first", "second"));
    EXPECT_EQ(ReadLines(m_Root.Path() + "/other/Varnholt_2026-05-05.log").size(), 1u);
}

TEST_F(DayFileSinkTest, UnwritableDirectoryIsSurvivedAndALaterGoodOneWorks) {
    // A regular file where the folder should be: neither folder nor file can be made.
    std::ofstream(m_Root.Path() + "/blocker") << "x";
    m_Sink.SetLocation(m_Root.Path() + "/blocker/logs/", "Varnholt");
    m_Sink.Write(Entry(llError, Local(2026, 5, 5, 10, 0, 0, 0), "lost to the disk"));
    m_Sink.Flush();
    EXPECT_EQ(m_Sink.OpenPath(), "");
    m_Sink.SetLocation(Dir(), "Varnholt");
    m_Sink.Write(Entry(llError, Local(2026, 5, 5, 10, 0, 1, 0), "kept"));
    m_Sink.Flush();
    EXPECT_EQ(m_Sink.OpenPath(), Dir() + "Varnholt_2026-05-05.log");
    EXPECT_EQ(ReadLines(Dir() + "Varnholt_2026-05-05.log").size(), 1u);
}

}  // namespace
