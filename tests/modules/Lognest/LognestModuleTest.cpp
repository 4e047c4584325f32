// The real module, loaded through the program's GetLog() from beside this
// test binary. Each test gets a fresh log object (Log_Free in TearDown) whose
// default directory lies in a fresh temporary data root.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "infra/Log.h"
#include "platform/Thread.h"
#include "platform/WinPath.h"
#include "tests/support/TestFiles.h"

namespace {

using testsupport::FileNames;
using testsupport::LineText;
using testsupport::ReadLines;
using testsupport::TempDir;
using testing::ElementsAre;
using testing::MatchesRegex;

// POSIX extended expressions (gtest's matchers): "YYYY-MM-DD HH:MM:SS.mmm".
const std::string kStampPattern = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}";

struct HookedEntry {
    int level;
    std::string text;
    int threadId;
};

void CallLogV(LogService* log, int level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    log->LogV(level, format, args);
    va_end(args);
}

// Collects what the module's hook receives.
struct HookRecorder {
    std::mutex mutex;
    std::vector<HookedEntry> entries;

    static void Hook(void* context, int level, const char* text) {
        auto* self = static_cast<HookRecorder*>(context);
        std::lock_guard lock(self->mutex);
        self->entries.push_back({level, text, plat::CurrentThreadId()});
    }
    std::vector<HookedEntry> Taken() {
        std::lock_guard lock(mutex);
        return entries;
    }
};

class LognestModuleTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_Root.Path().empty());
        ::setenv(plat::kDataRootVariable, m_Root.Path().c_str(), 1);
        m_Log = GetLog();
        ASSERT_NE(m_Log, nullptr);
    }
    void TearDown() override {
        Log_Free();
        ::unsetenv(plat::kDataRootVariable);
    }

    std::string DefaultDir() const { return m_Root.Path() + "/D/ServerLog/"; }
    std::vector<std::string> DayLines() {
        m_Log->Flush();
        return ReadLines(m_Log->GetLogDirectory() + m_Log->GetFileName(false));
    }
    std::vector<std::string> WarnLines() {
        m_Log->Flush();
        return ReadLines(m_Log->GetLogDirectory() + m_Log->GetFileName(true));
    }
    std::vector<std::string> DayTexts() {
        std::vector<std::string> texts;
        for (const auto& line : DayLines()) texts.push_back(LineText(line));
        return texts;
    }
    // One entry at every level 0..8, text "L<level>".
    void LogEveryLevel() {
        m_Log->LogNomal("L%d", 0);
        m_Log->LogInfo("L%d", 1);
        m_Log->LogDebug("L%d", 2);
        m_Log->LogPyWarn("L%d", 3);
        m_Log->LogWarn("L%d", 4);
        m_Log->LogDesign("L%d", 5);
        m_Log->LogPyErr("L%d", 6);
        m_Log->LogError("L%d", 7);
        m_Log->LogFatal("L%d", 8);
    }

    TempDir m_Root;
    LogService* m_Log = nullptr;
};

TEST_F(LognestModuleTest, LevelNamesAreTheDisplayNames) {
    const char* expected[] = {"Nomal", " Info", "Debug", "PyWarn", " Warn", "Design", "PyErr", "Error", "Fatal"};
    for (int level = 0; level < kLogLevelCount; ++level) EXPECT_STREQ(m_Log->GetLevelName(level), expected[level]);
    EXPECT_STREQ(m_Log->GetLevelName(-1), "");
    EXPECT_STREQ(m_Log->GetLevelName(9), "");
}

TEST_F(LognestModuleTest, CountsEveryLevelAsSoonAsTheCallReturns) {
    for (int level = 0; level < kLogLevelCount; ++level) {
        for (int i = 0; i <= level; ++i) CallLogV(m_Log, level, "x%d", i);
    }
    // No Flush: the counts are kept on the caller's thread.
    for (int level = 0; level < kLogLevelCount; ++level) EXPECT_EQ(m_Log->GetLevelCount(level), level + 1) << level;
    EXPECT_EQ(m_Log->GetLevelCount(-1), 0);
    EXPECT_EQ(m_Log->GetLevelCount(9), 0);
    EXPECT_EQ(m_Log->GetTotalCount(), 45);
    EXPECT_EQ(m_Log->GetErrorCount(), 8);
    EXPECT_EQ(m_Log->GetFatalCount(), 9);
    EXPECT_EQ(m_Log->GetLogFatalErrorCount(), 17);
    EXPECT_EQ(m_Log->GetErrorCountAlt(), 8);
    EXPECT_EQ(m_Log->GetFatalCountAlt(), 9);
}

TEST_F(LognestModuleTest, NamedCallsFileAtTheirLevels) {
    m_Log->LogRun("run %d", 1);
    m_Log->LogNote("note %s", "n");
    m_Log->LogAlarm("alarm %d", 3);
    m_Log->PyOutput(0, "py out");
    m_Log->PyErrorOutput(0, "py err");
    EXPECT_EQ(m_Log->GetLevelCount(llInfo), 2);
    EXPECT_EQ(m_Log->GetLevelCount(llWarn), 1);
    EXPECT_EQ(m_Log->GetLevelCount(llNomal), 1);
    EXPECT_EQ(m_Log->GetLevelCount(llPyWarn), 1);
    const auto lines = DayLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[0].find(" [ Info] ["), std::string::npos);
    EXPECT_NE(lines[1].find(" [ Info] ["), std::string::npos);
    EXPECT_NE(lines[2].find(" [ Warn] ["), std::string::npos);
    EXPECT_NE(lines[3].find(" [Nomal] ["), std::string::npos);
    EXPECT_NE(lines[4].find(" [PyWarn] ["), std::string::npos);
    EXPECT_THAT(DayTexts(), ElementsAre("run 1", "note n", "alarm 3", "py out", "py err"));
}

TEST_F(LognestModuleTest, DayFileNameAndLineFormat) {
    m_Log->LogWarn("engine %s started on port %d", "relay", 7000);
    const std::string name = m_Log->GetFileName(false);
    EXPECT_THAT(name, MatchesRegex("Server_[0-9]{4}-[0-9]{2}-[0-9]{2}\\.log"));
    EXPECT_EQ(m_Log->GetFileName(true), "Server_Warn_" + name.substr(7));
    const auto lines = DayLines();
    ASSERT_EQ(lines.size(), 1u);
    const std::string tid = std::to_string(plat::CurrentThreadId());
    EXPECT_THAT(lines[0], MatchesRegex(kStampPattern + " \\[ Warn\\] \\[" + tid + "\\] engine relay started on port 7000"));
    // The file is the day of the entry's own stamp.
    EXPECT_EQ(lines[0].substr(0, 10), name.substr(7, 10));
    EXPECT_THAT(FileNames(DefaultDir()), ElementsAre(name, m_Log->GetFileName(true)));
}

TEST_F(LognestModuleTest, EveryLevelIsWrittenWithItsDisplayName) {
    LogEveryLevel();
    const auto lines = DayLines();
    ASSERT_EQ(lines.size(), 9u);
    const char* names[] = {"Nomal", " Info", "Debug", "PyWarn", " Warn", "Design", "PyErr", "Error", "Fatal"};
    const std::string tid = std::to_string(plat::CurrentThreadId());
    for (int level = 0; level < kLogLevelCount; ++level) {
        const std::string tail = std::string(" [") + names[level] + "] [" + tid + "] L" + std::to_string(level);
        EXPECT_EQ(lines[level].substr(23), tail);
        EXPECT_THAT(lines[level].substr(0, 23), MatchesRegex(kStampPattern));
    }
}

TEST_F(LognestModuleTest, WarnFileHoldsOnlyWarnAndAbove) {
    LogEveryLevel();
    std::vector<std::string> texts;
    for (const auto& line : WarnLines()) texts.push_back(LineText(line));
    EXPECT_THAT(texts, ElementsAre("L4", "L5", "L6", "L7", "L8"));
}

TEST_F(LognestModuleTest, ServerNameNamesTheFiles) {
    m_Log->SetServerName("Varnholt");
    m_Log->LogError("bad %d", 1);
    EXPECT_EQ(m_Log->GetServerName(), "Varnholt");
    const std::string day = m_Log->GetFileName(false);
    EXPECT_EQ(day.substr(0, 9), "Varnholt_");
    EXPECT_EQ(m_Log->GetFileName(true), "Varnholt_Warn_" + day.substr(9));
    EXPECT_THAT(DayTexts(), ElementsAre("bad 1"));
    EXPECT_THAT(FileNames(DefaultDir()), ElementsAre(day, m_Log->GetFileName(true)));
}

TEST_F(LognestModuleTest, ServerNameCannotLeaveTheLogDirectory) {
    m_Log->SetServerName("../escape");
    EXPECT_EQ(m_Log->GetServerName(), ".._escape");
    m_Log->SetServerName("");
    EXPECT_EQ(m_Log->GetServerName(), "Server");
}

TEST_F(LognestModuleTest, DefaultDirectoryIsServerLogBelowTheDataRoot) {
    EXPECT_EQ(m_Log->GetLogDirectory(), DefaultDir());
    m_Log->LogInfo("default");
    EXPECT_THAT(DayTexts(), ElementsAre("default"));
}

TEST_F(LognestModuleTest, SetLogDirectoryCreatesItAndLaterEntriesGoThere) {
    m_Log->LogInfo("before");
    m_Log->SetLogDirectory("D:\\Logs\\Gate", "");
    const std::string gate = m_Root.Path() + "/D/Logs/Gate/";
    EXPECT_EQ(m_Log->GetLogDirectory(), gate);
    EXPECT_TRUE(std::filesystem::is_directory(gate));  // before any entry is written
    m_Log->LogInfo("after");
    m_Log->Flush();
    const std::string name = m_Log->GetFileName(false);
    std::vector<std::string> before, after;
    for (const auto& line : ReadLines(DefaultDir() + name)) before.push_back(LineText(line));
    for (const auto& line : ReadLines(gate + name)) after.push_back(LineText(line));
    EXPECT_THAT(before, ElementsAre("before"));
    EXPECT_THAT(after, ElementsAre("after"));
}

TEST_F(LognestModuleTest, EmptyLogDirectoryIsIgnored) {
    m_Log->SetLogDirectory("", "");
    m_Log->SetLogDirectory(nullptr, "");
    EXPECT_EQ(m_Log->GetLogDirectory(), DefaultDir());
}

TEST_F(LognestModuleTest, DefaultMaskLetsEverythingIntoTheFiles) {
    EXPECT_EQ(m_Log->GetOutputMask(), 0x3E);
    LogEveryLevel();
    EXPECT_THAT(DayTexts(), ElementsAre("L0", "L1", "L2", "L3", "L4", "L5", "L6", "L7", "L8"));
}

TEST_F(LognestModuleTest, EmptyMaskKeepsOnlyNomalAndInfoButCountsAndHooksAll) {
    HookRecorder hook;
    m_Log->SetLogHook(&HookRecorder::Hook, &hook);
    m_Log->SetOutputMask(0);
    EXPECT_EQ(m_Log->GetOutputMask(), 0);
    LogEveryLevel();
    EXPECT_THAT(DayTexts(), ElementsAre("L0", "L1"));
    EXPECT_TRUE(WarnLines().empty());
    EXPECT_EQ(hook.Taken().size(), 9u);
    for (int level = 0; level < kLogLevelCount; ++level) EXPECT_EQ(m_Log->GetLevelCount(level), 1);
    EXPECT_EQ(m_Log->GetErrorCount(), 1);
    EXPECT_EQ(m_Log->GetFatalCount(), 1);
    EXPECT_EQ(m_Log->GetLogFatalErrorCount(), 2);
    EXPECT_EQ(m_Log->GetErrorCountAlt(), 0);
    EXPECT_EQ(m_Log->GetFatalCountAlt(), 0);
}

struct MaskCase {
    uint8_t mask;
    std::vector<std::string> written;
};

class LognestMaskTest : public LognestModuleTest, public testing::WithParamInterface<MaskCase> {};

TEST_P(LognestMaskTest, EachBitLetsItsLevelsIn) {
    m_Log->SetOutputMask(GetParam().mask);
    LogEveryLevel();
    EXPECT_EQ(DayTexts(), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Bits, LognestMaskTest,
    testing::Values(MaskCase{1u << 1, {"L0", "L1", "L2"}},                      // Debug Log
                    MaskCase{1u << 2, {"L0", "L1"}},                            // Frm Log: no file effect
                    MaskCase{1u << 3, {"L0", "L1", "L3", "L4", "L5"}},          // Warning
                    MaskCase{1u << 4, {"L0", "L1", "L6", "L7"}},                // Error log
                    MaskCase{1u << 5, {"L0", "L1", "L8"}},                      // Fatal Log
                    MaskCase{0x01 | 0x40 | 0x80, {"L0", "L1"}}));               // bits outside 1..5

TEST_F(LognestModuleTest, AltCountsFollowTheMaskAtTheTimeOfTheEntry) {
    m_Log->LogError("e1");
    m_Log->LogFatal("f1");
    m_Log->SetOutputMask(0x3E & ~(1u << 4) & ~(1u << 5));
    m_Log->LogError("e2");
    m_Log->LogFatal("f2");
    m_Log->SetOutputMask(0x3E);
    m_Log->LogError("e3");
    EXPECT_EQ(m_Log->GetErrorCount(), 3);
    EXPECT_EQ(m_Log->GetFatalCount(), 2);
    EXPECT_EQ(m_Log->GetErrorCountAlt(), 2);
    EXPECT_EQ(m_Log->GetFatalCountAlt(), 1);
    EXPECT_EQ(m_Log->GetLogFatalErrorCount(), 5);
    EXPECT_THAT(DayTexts(), ElementsAre("e1", "f1", "e3"));
}

TEST_F(LognestModuleTest, HookGetsEveryEntryInOrderOnTheLoggingThread) {
    HookRecorder hook;
    m_Log->SetLogHook(&HookRecorder::Hook, &hook);
    LogEveryLevel();
    m_Log->LogText(llError, "finished %d text");
    m_Log->Flush();
    const auto entries = hook.Taken();
    ASSERT_EQ(entries.size(), 10u);
    for (int level = 0; level < kLogLevelCount; ++level) {
        EXPECT_EQ(entries[level].level, level);
        EXPECT_EQ(entries[level].text, "L" + std::to_string(level));
        EXPECT_NE(entries[level].threadId, plat::CurrentThreadId());
    }
    EXPECT_EQ(entries[9].level, llError);
    EXPECT_EQ(entries[9].text, "finished %d text");
}

TEST_F(LognestModuleTest, HookSeesTheEntryAlreadyCounted) {
    struct Seen {
        std::atomic<int> errorsAtHook{-1};
    } seen;
    m_Log->SetLogHook(
        [](void* context, int level, const char*) {
            if (level == llError) static_cast<Seen*>(context)->errorsAtHook = GetLog()->GetLevelCount(llError);
        },
        &seen);
    m_Log->LogError("first");
    m_Log->Flush();
    EXPECT_EQ(seen.errorsAtHook.load(), 1);
}

TEST_F(LognestModuleTest, ClearedHookIsNoLongerCalled) {
    HookRecorder hook;
    m_Log->SetLogHook(&HookRecorder::Hook, &hook);
    m_Log->LogInfo("one");
    m_Log->Flush();
    m_Log->SetLogHook(nullptr, nullptr);
    m_Log->LogInfo("two");
    m_Log->Flush();
    const auto entries = hook.Taken();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].text, "one");
}

TEST_F(LognestModuleTest, FlushInsideTheHookReturnsAndLoggingFromItIsKept) {
    std::atomic<int> calls{0};
    m_Log->SetLogHook(
        [](void* context, int, const char* text) {
            ++*static_cast<std::atomic<int>*>(context);
            GetLog()->Flush();  // must not wait for itself
            if (std::string(text) == "ping") GetLog()->LogText(llInfo, "pong");
        },
        &calls);
    m_Log->LogInfo("ping");
    m_Log->Flush();
    m_Log->Flush();  // the second one covers "pong", made during the first
    EXPECT_EQ(calls.load(), 2);
    EXPECT_THAT(DayTexts(), ElementsAre("ping", "pong"));
}

TEST_F(LognestModuleTest, LogFreeFromTheHookIsRefused) {
    std::atomic<int> calls{0};
    m_Log->SetLogHook(
        [](void* context, int, const char*) {
            Log_Free();
            ++*static_cast<std::atomic<int>*>(context);
        },
        &calls);
    m_Log->LogInfo("still here");
    m_Log->Flush();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(GetLog(), m_Log);
    EXPECT_THAT(DayTexts(), ElementsAre("still here"));
}

TEST_F(LognestModuleTest, FlushWaitsUntilTheHookHasSeenEveryEntry) {
    std::atomic<int> hooked{0};
    m_Log->SetLogHook(
        [](void* context, int, const char*) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ++*static_cast<std::atomic<int>*>(context);
        },
        &hooked);
    for (int i = 0; i < 50; ++i) m_Log->LogInfo("entry %d", i);
    m_Log->Flush();
    EXPECT_EQ(hooked.load(), 50);
    EXPECT_EQ(m_Log->GetPendingCount(), 0);
}

TEST_F(LognestModuleTest, LogLineWritesPercentTextUnchanged) {
    LogLine("progress 100%d %s done");
    m_Log->LogText(llWarn, "50%s off");
    EXPECT_THAT(DayTexts(), ElementsAre("progress 100%d %s done", "50%s off"));
    EXPECT_EQ(m_Log->GetLevelCount(llInfo), 1);
}

TEST_F(LognestModuleTest, LongTextIsWrittenWhole) {
    const std::string longText(5000, 'q');
    m_Log->LogInfo("<%s>", longText.c_str());
    EXPECT_THAT(DayTexts(), ElementsAre("<" + longText + ">"));
}

TEST_F(LognestModuleTest, OutOfRangeLevelIsKeptAtTheNearestLevel) {
    m_Log->LogText(42, "too high");
    m_Log->LogText(-3, "too low");
    EXPECT_EQ(m_Log->GetFatalCount(), 1);
    EXPECT_EQ(m_Log->GetLevelCount(llNomal), 1);
    EXPECT_THAT(DayTexts(), ElementsAre("too high", "too low"));
}

TEST_F(LognestModuleTest, LastErrorAndFatalTimesAreTheirStamps) {
    EXPECT_EQ(m_Log->GetLastErrorTime(), "");
    EXPECT_EQ(m_Log->GetLastFatalTime(), "");
    m_Log->LogError("err");
    m_Log->LogFatal("fatal");
    const auto lines = DayLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(m_Log->GetLastErrorTime(), MatchesRegex(kStampPattern));
    EXPECT_EQ(m_Log->GetLastErrorTime(), lines[0].substr(0, 23));
    EXPECT_EQ(m_Log->GetLastFatalTime(), lines[1].substr(0, 23));
}

TEST_F(LognestModuleTest, LastErrorTimeIsKeptWhenTheMaskHidesErrors) {
    m_Log->SetOutputMask(0);
    m_Log->LogError("hidden");
    EXPECT_THAT(m_Log->GetLastErrorTime(), MatchesRegex(kStampPattern));
    EXPECT_EQ(m_Log->GetLastFatalTime(), "");
}

TEST_F(LognestModuleTest, SettingsAreReadBack) {
    EXPECT_FALSE(m_Log->GetMarkerFlag());
    EXPECT_EQ(m_Log->GetNotifyWindow(), nullptr);
    int window = 0;
    m_Log->SetMarkerFlag(true);
    m_Log->SetNotifyWindow(&window);
    EXPECT_TRUE(m_Log->GetMarkerFlag());
    EXPECT_EQ(m_Log->GetNotifyWindow(), &window);
    m_Log->Reserved31();  // reserved positions do nothing
    m_Log->Reserved47();
    EXPECT_EQ(m_Log->GetTotalCount(), 0);
}

TEST_F(LognestModuleTest, LogFreeThenGetLogGivesAFreshWorkingObject) {
    m_Log->SetServerName("Old");
    m_Log->SetOutputMask(0);
    m_Log->SetMarkerFlag(true);
    m_Log->LogError("old error");
    m_Log->LogInfo("old entry");
    Log_Free();  // flushes the old one
    ASSERT_THAT(FileNames(DefaultDir()), testing::Contains(testing::StartsWith("Old_")));

    TempDir fresh;
    ::setenv(plat::kDataRootVariable, fresh.Path().c_str(), 1);
    m_Log = GetLog();
    EXPECT_EQ(m_Log->GetErrorCount(), 0);
    EXPECT_EQ(m_Log->GetTotalCount(), 0);
    EXPECT_EQ(m_Log->GetOutputMask(), 0x3E);
    EXPECT_EQ(m_Log->GetServerName(), "Server");
    EXPECT_FALSE(m_Log->GetMarkerFlag());
    EXPECT_EQ(m_Log->GetLastErrorTime(), "");
    EXPECT_EQ(m_Log->GetLogDirectory(), fresh.Path() + "/D/ServerLog/");
    m_Log->LogInfo("new entry");
    EXPECT_THAT(DayTexts(), ElementsAre("new entry"));
    Log_Free();  // before the folder goes
}

TEST_F(LognestModuleTest, LogFreeWritesEverythingQueued) {
    for (int i = 0; i < 10000; ++i) m_Log->LogInfo("queued %d", i);
    const std::string path = m_Log->GetLogDirectory() + m_Log->GetFileName(false);
    Log_Free();
    EXPECT_EQ(ReadLines(path).size(), 10000u);
    m_Log = GetLog();
}

// ---- concurrency

TEST_F(LognestModuleTest, FourThreadsMillionEntriesNoneLostNoneDoubled) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 250000;
    std::vector<int> threadIds(kThreads);
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            threadIds[t] = plat::CurrentThreadId();
            LogService* log = GetLog();
            for (int i = 0; i < kPerThread; ++i) log->LogInfo("w%d #%d", t, i);
        });
    }
    for (auto& writer : writers) writer.join();
    m_Log->Flush();
    EXPECT_EQ(m_Log->GetLevelCount(llInfo), kThreads * kPerThread);
    EXPECT_EQ(m_Log->GetPendingCount(), 0);

    std::vector<uint8_t> seen(static_cast<size_t>(kThreads) * kPerThread, 0);
    int lines = 0, foreign = 0, wrongThread = 0;
    for (const auto& line : ReadLines(m_Log->GetLogDirectory() + m_Log->GetFileName(false))) {
        ++lines;
        int t = -1, i = -1, tid = 0;
        const auto threadStart = line.find("] [") + 3;
        if (std::sscanf(line.c_str() + threadStart, "%d] w%d #%d", &tid, &t, &i) != 3 || t < 0 || t >= kThreads ||
            i < 0 || i >= kPerThread) {
            ++foreign;
            continue;
        }
        if (tid != threadIds[t]) ++wrongThread;
        ++seen[static_cast<size_t>(t) * kPerThread + i];
    }
    EXPECT_EQ(lines, kThreads * kPerThread);
    EXPECT_EQ(foreign, 0);
    EXPECT_EQ(wrongThread, 0);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), kThreads * kPerThread);
}

TEST_F(LognestModuleTest, EntriesOfOneThreadStayInOrderAmongOthers) {
    HookRecorder hook;
    m_Log->SetLogHook(&HookRecorder::Hook, &hook);
    constexpr int kPerThread = 20000;
    std::vector<std::thread> writers;
    for (int t = 0; t < 2; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i) GetLog()->LogDebug("%d %d", t, i);
        });
    }
    for (auto& writer : writers) writer.join();
    m_Log->Flush();
    int next[2] = {0, 0};
    int outOfOrder = 0;
    for (const auto& entry : hook.Taken()) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(entry.text.c_str(), "%d %d", &t, &i), 2);
        if (i != next[t]) ++outOfOrder;
        next[t] = i + 1;
    }
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(next[0], kPerThread);
    EXPECT_EQ(next[1], kPerThread);
}

TEST_F(LognestModuleTest, FlushWhileOthersLogCoversTheCallersOwnEntries) {
    std::atomic<bool> stop{false};
    std::thread noise([&] {
        // Paced: a writer that never pauses outruns any disk, and the
        // backlog would only make this test slow.
        while (!stop.load()) {
            for (int i = 0; i < 100; ++i) GetLog()->LogInfo("noise %d", i);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    int missing = 0;
    for (int round = 0; round < 50; ++round) {
        m_Log->LogWarn("mark %d", round);
        m_Log->Flush();
        // The Warn file only gets the marks: after Flush the latest is in it.
        const auto lines = ReadLines(m_Log->GetLogDirectory() + m_Log->GetFileName(true));
        if (lines.empty() || LineText(lines.back()) != "mark " + std::to_string(round)) ++missing;
    }
    stop = true;
    noise.join();
    EXPECT_EQ(missing, 0);
}

TEST_F(LognestModuleTest, ConcurrentSettingsAndEntriesDoNotRace) {
    const LogHook noop = [](void*, int, const char*) {};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        while (!stop.load()) {
            for (int i = 0; i < 100; ++i) GetLog()->LogError("e%d", i);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    for (int i = 0; i < 200 || m_Log->GetErrorCount() < 2000; ++i) {
        m_Log->SetOutputMask(static_cast<uint8_t>((i % 2) ? 0x3E : 0));
        m_Log->SetServerName((i % 2) ? "A" : "B");
        m_Log->SetLogHook((i % 2) ? nullptr : noop, nullptr);
        (void)m_Log->GetLastErrorTime();
        (void)m_Log->GetFileName(true);
        std::this_thread::yield();
    }
    stop = true;
    writer.join();
    m_Log->Flush();
    // Every entry the mask let in at the moment it was made is in a day file
    // of one of the names, and no other.
    int errorLines = 0;
    for (const auto& name : FileNames(m_Log->GetLogDirectory())) {
        if (name.find("_Warn_") != std::string::npos) continue;
        for (const auto& line : ReadLines(m_Log->GetLogDirectory() + name)) {
            if (line.find(" [Error] ") != std::string::npos) ++errorLines;
        }
    }
    EXPECT_EQ(errorLines, m_Log->GetErrorCountAlt());
    EXPECT_LT(m_Log->GetErrorCountAlt(), m_Log->GetErrorCount());
}

}  // namespace
