// The error-log event notice over the real modules: the log (Lognest, whose
// logging thread calls the hook), the configuration files (VexConfig) and
// the event collector (OrvalisCollector), all loaded from beside this binary,
// with the tick pinned by TestClock. And the launch-control proxy against a
// missing and an incomplete module.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "infra/ErrorLogEventNotice.h"
#include "infra/LaunchServerDLLProxy.h"
#include "infra/Log.h"
#include "infra/OrvalisCollectorProxy.h"
#include "modules/OrvalisCollector/OrvalisCollector.h"
#include "platform/ModuleLoader.h"
#include "platform/Tick.h"
#include "platform/WinPath.h"
#include "tests/support/CapturingLog.h"
#include "tests/support/TestFiles.h"

namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testsupport::FileNames;
using testsupport::ReadLines;

constexpr uint32_t kStartTick = 100000;

class ErrorLogEventNoticeTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_Root.Path().empty());
        ::setenv(plat::kDataRootVariable, m_Root.Path().c_str(), 1);
        ::setenv(kEventDirVariable, EventDir().c_str(), 1);
        m_Log = GetLog();
        ASSERT_NE(m_Log, nullptr);
    }
    void TearDown() override {
        m_Notice.StopNotice();
        Log_Free();
        ::unsetenv(kEventDirVariable);
        ::unsetenv(plat::kDataRootVariable);
    }

    std::string EventDir() const { return m_Root / "events"; }
    std::string IniPath() const { return m_Root / "ErrorLogEventNotice.ini"; }
    void WriteIni(const std::string& body) { std::ofstream(IniPath()) << "[ErrorLogEventNotice]\n" << body; }
    void WriteOpenIni() {
        WriteIni("IsOpen=1\nAppId=gate\nSecret=k\nSessionID=S-1\nProductID=P-2\nZoneName=Z-3\nOperatorID=O-4\n"
                 "EventID=777\nInterval=60000\n");
    }
    // Every report written so far, after the log has run the hook for every
    // entry made before the call.
    std::vector<std::string> Reports() {
        m_Log->Flush();
        std::vector<std::string> lines;
        for (const std::string& name : FileNames(EventDir())) {
            for (const std::string& line : ReadLines(EventDir() + "/" + name)) lines.push_back(line);
        }
        return lines;
    }
    static testing::Matcher<std::string> ReportWith(const std::string& content) {
        return HasSubstr("\"appId\":\"gate\",\"sessionId\":\"S-1\",\"productId\":\"P-2\",\"zoneName\":\"Z-3\","
                         "\"operatorId\":\"O-4\",\"eventId\":777,\"content\":\"" +
                         content + "\"}");
    }

    testsupport::TempDir m_Root;
    plat::TestClock m_Clock{kStartTick};
    LogService* m_Log = nullptr;
    COrvalisCollectorProxy m_Collector{{plat::ExecutableDir() + "libOrvalisCollector.so"}};
    CErrorLogEventNotice m_Notice{m_Collector, IniPath()};
};

TEST_F(ErrorLogEventNoticeTest, ErrorEntryReportsOnceAtOnceThenOnlyAfterTheInterval) {
    WriteOpenIni();
    m_Notice.StartNotice("Varnholt");
    ASSERT_TRUE(m_Notice.IsArmed());

    m_Log->LogError("first %d", 1);
    EXPECT_THAT(Reports(), ElementsAre(ReportWith("Varnholt,0,1,0")));

    m_Log->LogError("second");
    m_Log->LogFatal("third");
    EXPECT_EQ(Reports().size(), 1u);
    m_Notice.TickNotice();
    m_Clock.Advance(59999);
    m_Notice.TickNotice();
    EXPECT_EQ(Reports().size(), 1u);

    m_Clock.Advance(1);
    m_Notice.TickNotice();
    EXPECT_THAT(Reports(), ElementsAre(ReportWith("Varnholt,0,1,0"), ReportWith("Varnholt,0,2,1")));
}

TEST_F(ErrorLogEventNoticeTest, LevelsZeroToFiveNeverTrigger) {
    WriteOpenIni();
    m_Notice.StartNotice("Varnholt");
    m_Log->LogNomal("0");
    m_Log->LogInfo("1");
    m_Log->LogDebug("2");
    m_Log->LogPyWarn("3");
    m_Log->LogWarn("4");
    m_Log->LogDesign("5");
    EXPECT_THAT(Reports(), ElementsAre());

    m_Log->LogPyErr("6");
    EXPECT_THAT(Reports(), ElementsAre(ReportWith("Varnholt,1,0,0")));
}

TEST_F(ErrorLogEventNoticeTest, FirstTickAfterArmingReportsAtOnce) {
    WriteOpenIni();
    m_Notice.StartNotice("Varnholt");
    m_Notice.TickNotice();
    EXPECT_THAT(Reports(), ElementsAre(ReportWith("Varnholt,0,0,0")));
    m_Clock.Advance(1000);
    m_Notice.TickNotice();
    EXPECT_EQ(Reports().size(), 1u);
}

TEST_F(ErrorLogEventNoticeTest, SecondStartNoticeWhileArmedChangesNothing) {
    WriteOpenIni();
    m_Notice.StartNotice("Varnholt");
    WriteIni("IsOpen=0\nSessionID=Other\n");
    m_Notice.StartNotice("Other");
    EXPECT_TRUE(m_Notice.IsArmed());
    EXPECT_TRUE(m_Notice.IsOpen());
    m_Log->LogError("x");
    EXPECT_THAT(Reports(), ElementsAre(ReportWith("Varnholt,0,1,0")));
}

TEST_F(ErrorLogEventNoticeTest, MissingIniFileMeansNoReportsAndNothingLogged) {
    m_Notice.StartNotice("Varnholt");
    EXPECT_FALSE(m_Notice.IsArmed());
    m_Notice.TickNotice();
    EXPECT_EQ(m_Log->GetTotalCount(), 0);  // not even the collector was loaded
    m_Log->LogError("x");
    EXPECT_THAT(Reports(), ElementsAre());
}

TEST_F(ErrorLogEventNoticeTest, IsOpenFalseMeansNoReportsAndNothingLogged) {
    WriteIni("IsOpen=0\nSessionID=S-1\n");
    m_Notice.StartNotice("Varnholt");
    EXPECT_FALSE(m_Notice.IsArmed());
    m_Notice.TickNotice();
    EXPECT_EQ(m_Log->GetTotalCount(), 0);
    m_Log->LogError("x");
    EXPECT_THAT(Reports(), ElementsAre());
}

TEST_F(ErrorLogEventNoticeTest, StopNoticeEndsReporting) {
    WriteOpenIni();
    m_Notice.StartNotice("Varnholt");
    m_Notice.StopNotice();
    EXPECT_FALSE(m_Notice.IsArmed());
    EXPECT_FALSE(m_Notice.IsOpen());
    m_Log->LogError("x");
    m_Notice.TickNotice();
    EXPECT_THAT(Reports(), ElementsAre());
}

TEST_F(ErrorLogEventNoticeTest, DefaultsApplyToMissingKeysAndMalformedValuesAreWarned) {
    WriteIni("IsOpen=yes\nEventID=22x\n");
    m_Notice.StartNotice("Varnholt");
    ASSERT_TRUE(m_Notice.IsArmed());
    m_Notice.TickNotice();
    EXPECT_THAT(Reports(), ElementsAre(HasSubstr("\"appId\":\"\",\"sessionId\":\"\",\"productId\":\"\","
                                                 "\"zoneName\":\"\",\"operatorId\":\"\",\"eventId\":22222,"
                                                 "\"content\":\"Varnholt,0,0,0\"}")));
    EXPECT_EQ(m_Log->GetLevelCount(llWarn), 1);
    m_Clock.Advance(CErrorLogEventNotice::kDefaultIntervalMs);
    m_Notice.TickNotice();
    EXPECT_EQ(Reports().size(), 2u);
}

TEST_F(ErrorLogEventNoticeTest, MissingCollectorLeavesTheServerRunning) {
    COrvalisCollectorProxy missing({"/nonexistent/libOrvalisCollector.so"});
    CErrorLogEventNotice notice(missing, IniPath());
    WriteOpenIni();
    notice.StartNotice("Varnholt");
    m_Log->LogError("x");
    notice.TickNotice();
    EXPECT_THAT(Reports(), ElementsAre());
    EXPECT_EQ(m_Log->GetLevelCount(llInfo), 1);  // "LoadCollecterDll Fail", once
    notice.StopNotice();
}

TEST(LaunchServerDLLProxyTest, MissingModuleTurnsTheFeatureOff) {
    testsupport::ScopedCapturingLog log;
    CLaunchServerDLLProxy proxy("NoSuchLaunchModule.dll");
    EXPECT_FALSE(proxy.Init([] { return true; }, [] { return true; }));
    EXPECT_FALSE(proxy.IsInited());
    EXPECT_EQ(proxy.GetLaunchControl(), nullptr);
    EXPECT_TRUE(proxy.Release());
    EXPECT_EQ(log->CountContaining("CLaunchServerDLLProxy::Init  NoSuchLaunchModule.dll not loaded: "), 1);
}

TEST(LaunchServerDLLProxyTest, ModuleWithoutReleaseExportTurnsTheFeatureOff) {
    testsupport::ScopedCapturingLog log;
    CLaunchServerDLLProxy proxy("FakeLaunchGetOnly.dll");
    EXPECT_FALSE(proxy.Init([] { return true; }, [] { return true; }));
    EXPECT_FALSE(proxy.IsInited());
    EXPECT_EQ(proxy.GetLaunchControl(), nullptr);
    EXPECT_TRUE(log->Has(llInfo, "CLaunchServerDLLProxy::Init  FakeLaunchGetOnly.dll lacks ReleaseLaunchControlInstance"));
}

}  // namespace
