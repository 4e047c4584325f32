// The event collector module loaded as the program loads it (through
// COrvalisCollectorProxy), writing its JSON lines into a fresh folder; the
// proxy's loading rules against missing and incomplete modules; and the
// line builder on its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "infra/OrvalisCollectorProxy.h"
#include "modules/OrvalisCollector/EventJson.h"
#include "platform/ModuleLoader.h"
#include "platform/WinPath.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/TestFiles.h"

namespace {

using testing::ElementsAre;
using testing::MatchesRegex;
using testsupport::FileNames;
using testsupport::ReadLines;

// POSIX extended expression (gtest's matchers) of the local time stamp.
const std::string kStamp = "[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}[+-][0-9]{2}:[0-9]{2}";

int64_t NowUnixMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string ModulePath(const std::string& builtName) { return plat::ExecutableDir() + builtName; }

class OrvalisCollectorTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_Dir.Path().empty());
        ::setenv(kEventDirVariable, (m_Dir / "events").c_str(), 1);
        ::setenv(plat::kDataRootVariable, m_Dir.Path().c_str(), 1);
    }
    void TearDown() override {
        m_Collector.UnloadCollector();
        ::unsetenv(kEventDirVariable);
        ::unsetenv(plat::kDataRootVariable);
    }
    // The lines of the one day file in the folder.
    std::vector<std::string> DayLines(const std::string& folder, int64_t before, int64_t after) {
        const std::vector<std::string> names = FileNames(folder);
        if (names.size() != 1) return {"expected one file, found " + std::to_string(names.size())};
        const std::string name = names.front();
        if (name != "events_" + orvalis::LocalDate(before) + ".jsonl" &&
            name != "events_" + orvalis::LocalDate(after) + ".jsonl") {
            return {"unexpected file " + name};
        }
        return ReadLines(folder + "/" + name);
    }

    testsupport::TempDir m_Dir;
    testsupport::ScopedCapturingLog m_Log;
    COrvalisCollectorProxy m_Collector{{ModulePath("libOrvalisCollector.so")}};
};

TEST_F(OrvalisCollectorTest, ReportIsOneJsonLineWithSixFieldsAndAStamp) {
    const int64_t before = NowUnixMs();
    ASSERT_TRUE(m_Collector.SetReportParam("app-7", "s3cret"));
    ASSERT_TRUE(m_Collector.ReportEvent("S1", "P2", "Zone \"North\"", "Op\\4", 22222, "Varnholt,0,1,0"));
    const int64_t after = NowUnixMs();
    EXPECT_THAT(DayLines(m_Dir / "events", before, after),
                ElementsAre(MatchesRegex("\\{\"time\":\"" + kStamp +
                                         "\",\"appId\":\"app-7\",\"sessionId\":\"S1\",\"productId\":\"P2\","
                                         "\"zoneName\":\"Zone \\\\\"North\\\\\"\",\"operatorId\":\"Op\\\\\\\\4\","
                                         "\"eventId\":22222,\"content\":\"Varnholt,0,1,0\"\\}")));
    EXPECT_TRUE(m_Log->Has(llInfo, "LoadCollecterDll Ok!  path: " + ModulePath("libOrvalisCollector.so")));
}

TEST_F(OrvalisCollectorTest, SecretIsNeverWritten) {
    ASSERT_TRUE(m_Collector.SetReportParam("app", "TopSecretValue"));
    ASSERT_TRUE(m_Collector.ReportEvent("", "", "", "", 1, "x"));
    const std::vector<std::string> names = FileNames(m_Dir / "events");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(testsupport::ReadAll(m_Dir / "events/" + names.front()).find("TopSecretValue"), std::string::npos);
}

TEST_F(OrvalisCollectorTest, ReportsAppendLinesToTheDayFile) {
    const int64_t before = NowUnixMs();
    ASSERT_TRUE(m_Collector.ReportEvent("a", "b", "c", "d", 1, "first"));
    ASSERT_TRUE(m_Collector.ReportEvent("a", "b", "c", "d", 2, "second"));
    const int64_t after = NowUnixMs();
    EXPECT_THAT(DayLines(m_Dir / "events", before, after),
                ElementsAre(testing::HasSubstr("\"eventId\":1,\"content\":\"first\"}"),
                            testing::HasSubstr("\"eventId\":2,\"content\":\"second\"}")));
}

TEST_F(OrvalisCollectorTest, WithoutTheVariableEventsGoBelowTheDataRoot) {
    ::unsetenv(kEventDirVariable);
    const int64_t before = NowUnixMs();
    ASSERT_TRUE(m_Collector.ReportEvent("a", "b", "c", "d", 5, "x"));
    EXPECT_EQ(DayLines(m_Dir / "D/ServerLog/Events", before, NowUnixMs()).size(), 1u);
}

TEST_F(OrvalisCollectorTest, ConcurrentReportsNeverInterleave) {
    constexpr int kThreads = 4;
    constexpr int kReports = 50;
    const std::string longContent(3000, 'z');
    const int64_t before = NowUnixMs();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kReports; ++i) m_Collector.ReportEvent("s", "p", "z", "o", t, longContent);
        });
    }
    for (auto& thread : threads) thread.join();
    const std::vector<std::string> lines = DayLines(m_Dir / "events", before, NowUnixMs());
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kReports));
    for (const std::string& line : lines) {
        EXPECT_THAT(line, MatchesRegex("\\{\"time\":.*,\"eventId\":[0-3],\"content\":\"z{3000}\"\\}"));
    }
}

TEST_F(OrvalisCollectorTest, NoReportAfterCleanupOrUnload) {
    ASSERT_TRUE(m_Collector.EnsureCollector());
    m_Collector.CleanupCollector();
    EXPECT_FALSE(m_Collector.ReportEvent("a", "b", "c", "d", 1, "x"));
    m_Collector.UnloadCollector();
    EXPECT_FALSE(m_Collector.EnsureCollector());  // no second load
    EXPECT_FALSE(m_Collector.ReportEvent("a", "b", "c", "d", 1, "x"));
    EXPECT_TRUE(FileNames(m_Dir / "events").empty());
}

TEST(OrvalisCollectorLoadTest, MissingModuleTurnsTheFeatureOffForGood) {
    testsupport::ScopedCapturingLog log;
    COrvalisCollectorProxy collector({"/nonexistent/libOrvalisCollector.so", "no-such-collector.so"});
    EXPECT_FALSE(collector.EnsureCollector());
    EXPECT_FALSE(collector.ReportEvent("a", "b", "c", "d", 1, "x"));
    EXPECT_FALSE(collector.SetReportParam("a", "b"));
    EXPECT_THAT(log->Texts(llInfo), ElementsAre("LoadCollecterDll Fail"));  // tried once, not per call
}

TEST(OrvalisCollectorLoadTest, LaterCandidateIsUsedWhenEarlierOnesAreMissing) {
    testsupport::ScopedCapturingLog log;
    COrvalisCollectorProxy collector({"/nonexistent/libOrvalisCollector.so", ModulePath("libOrvalisCollector.so")});
    EXPECT_TRUE(collector.LoadCollector());
    EXPECT_TRUE(log->Has(llInfo, "LoadCollecterDll Ok!  path: " + ModulePath("libOrvalisCollector.so")));
}

TEST(OrvalisCollectorLoadTest, IncompleteModuleIsUnloadedAndNotRetried) {
    testsupport::ScopedCapturingLog log;
    COrvalisCollectorProxy collector({ModulePath("libFakeCollectorInitOnly.so")});
    EXPECT_FALSE(collector.EnsureCollector());
    EXPECT_FALSE(collector.EnsureCollector());
    EXPECT_EQ(log->CountContaining("LoadCollecterDll Ok!"), 1);
}

TEST(OrvalisCollectorLoadTest, DefaultCandidatesAreTriedInTheirDocumentedOrder) {
    const std::vector<std::string> candidates = COrvalisCollectorProxy::DefaultCandidates();
    ASSERT_EQ(candidates.size(), 4u);
    EXPECT_EQ(candidates[0], plat::ExecutableDir() + "libOrvalisCollector.so");
    EXPECT_EQ(candidates[1], "../libOrvalisCollector.so");
    EXPECT_THAT(candidates[2], MatchesRegex("/.*/libOrvalisCollector\\.so"));
    EXPECT_THAT(candidates[3], MatchesRegex("/.*/\\.\\./libOrvalisCollector\\.so"));
}

TEST(EventJsonTest, ControlCharactersQuotesAndBackslashesAreEscaped) {
    EXPECT_EQ(orvalis::JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(orvalis::JsonString("\n\r\t\b\f"), "\"\\n\\r\\t\\b\\f\"");
    EXPECT_EQ(orvalis::JsonString(std::string("\x01\x1f", 2)), "\"\\u0001\\u001f\"");
    EXPECT_EQ(orvalis::JsonString(std::string("a\0b", 3)), "\"a\\u0000b\"");
    EXPECT_EQ(orvalis::JsonString("/<>'"), "\"/<>'\"");
}

TEST(EventJsonTest, ValidUtf8PassesAndOtherHighBytesAreEscaped) {
    EXPECT_EQ(orvalis::JsonString("\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80"), "\"\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80\"");
    EXPECT_EQ(orvalis::JsonString("\xb7\xfe"), "\"\\u00b7\\u00fe\"");           // GBK text
    EXPECT_EQ(orvalis::JsonString("\xc0\xaf"), "\"\\u00c0\\u00af\"");           // overlong '/'
    EXPECT_EQ(orvalis::JsonString("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");  // a surrogate
    EXPECT_EQ(orvalis::JsonString("\xe4\xb8"), "\"\\u00e4\\u00b8\"");           // cut short
}

TEST(EventJsonTest, LineHasTheFieldsInOrder) {
    orvalis::EventFields fields;
    fields.appId = "A";
    fields.sessionId = "S";
    fields.productId = "P";
    fields.zoneName = "Z";
    fields.operatorId = "O";
    fields.eventId = -3;
    fields.content = "C";
    EXPECT_EQ(orvalis::EventLine("T", fields),
              "{\"time\":\"T\",\"appId\":\"A\",\"sessionId\":\"S\",\"productId\":\"P\",\"zoneName\":\"Z\","
              "\"operatorId\":\"O\",\"eventId\":-3,\"content\":\"C\"}\n");
}

TEST(EventJsonTest, StampIsLocalTimeWithMillisecondsAndOffset) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(orvalis::LocalStamp(1714566896789), "2024-05-01T12:34:56.789+00:00");
    EXPECT_EQ(orvalis::LocalDate(1714566896789), "2024-05-01");
    ::setenv("TZ", "America/St_Johns", 1);  // a half-hour offset west of UTC
    ::tzset();
    EXPECT_EQ(orvalis::LocalStamp(1714566896789), "2024-05-01T10:04:56.789-02:30");
    ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
