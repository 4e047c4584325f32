// The crash reporter, exercised by real faults in child processes: each child
// installs the reporter, crashes in a named thread and must leave a report.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "infra/CommonFunc.h"
#include "platform/CrashReporter.h"
#include "platform/Thread.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VARNHOLT_SANITIZED 1
#else
#define VARNHOLT_SANITIZED 0
#endif

namespace {

namespace fs = std::filesystem;

volatile int g_zero = 0;
volatile int g_one = 1;
volatile int* volatile g_nullTarget = nullptr;
volatile int g_depthLimit = -1;

void WriteThroughNull() { *g_nullTarget = 1; }

void DivideByZero() {
    volatile int quotient = g_one / g_zero;
    (void)quotient;
}

void Abort() { std::abort(); }

int Recurse(int depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    if (depth == g_depthLimit) return frame[0];
    return Recurse(depth + 1) + frame[0];
}

void OverflowStack() { Recurse(0); }

// Runs in the child: installs the reporter and crashes in a thread named `name`.
[[noreturn]] void CrashInNamedThread(const std::string& directory, const char* name, void (*crash)()) {
    if (!plat::CrashReporter::Install(directory, &ExceptionCodeName)) _exit(3);
    std::thread worker([&] {
        plat::SetCurrentThreadName(name);
        plat::CrashReporter::PrepareCurrentThread();
        crash();
    });
    worker.join();
    _exit(4);  // reached only when the crash did not happen
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CrashReporterTest : public ::testing::Test {
protected:
    void SetUp() override {
#if VARNHOLT_SANITIZED
        GTEST_SKIP() << "a sanitizer owns the fatal signals; crash reports are tested in plain builds";
#endif
        char pattern[] = "/tmp/varnholt-crash-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_Directory = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        if (!m_Directory.empty()) fs::remove_all(m_Directory, ignored);
    }

    // The one report in the directory, or "" when there is none.
    std::string TheReport() const {
        std::string report;
        int count = 0;
        for (const auto& entry : fs::directory_iterator(m_Directory)) {
            const std::string file = entry.path().filename().string();
            if (file.rfind("Crash_", 0) == 0 && entry.path().extension() == ".txt") {
                ++count;
                report = ReadFile(entry.path());
            }
        }
        return count == 1 ? report : std::string();
    }

    // The stack part has frames, one per line.
    static int StackLines(const std::string& report) {
        const size_t at = report.find("Call stack:\n");
        if (at == std::string::npos) return 0;
        int lines = 0;
        for (size_t i = at + 12; i < report.size(); ++i) lines += report[i] == '\n';
        return lines;
    }

    std::string m_Directory;
};

constexpr const char* kReportLine = "Crash report written to .*/Crash_[0-9]{8}-[0-9]{6}_[0-9]+\\.txt";

TEST(CrashReporterCodeTest, FatalSignalsMapToWindowsExceptionCodes) {
    using plat::CrashReporter;
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGSEGV, SEGV_MAPERR, false), 0xC0000005u);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGSEGV, SEGV_MAPERR, true), 0xC00000FDu);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGFPE, FPE_INTDIV, false), 0xC0000094u);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGFPE, FPE_INTOVF, false), 0xC0000095u);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGFPE, FPE_FLTDIV, false), 0xC000008Eu);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGFPE, FPE_FLTOVF, false), 0xC0000091u);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGFPE, FPE_FLTUND, false), 0xC0000093u);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGFPE, FPE_FLTRES, false), 0xC000008Fu);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGFPE, FPE_FLTINV, false), 0xC0000090u);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGILL, ILL_ILLOPC, false), 0xC000001Du);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGILL, ILL_PRVOPC, false), 0xC0000096u);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGBUS, BUS_ADRALN, false), 0x80000002u);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGBUS, BUS_ADRERR, false), 0xC0000006u);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGABRT, SI_TKILL, false), 0x0EEDFAE2u);
    EXPECT_EQ(CrashReporter::ExceptionCodeForSignal(SIGTERM, 0, false), 0u);
}

TEST_F(CrashReporterTest, NotActiveUntilInstalled) {
    EXPECT_FALSE(plat::CrashReporter::IsActive());
    EXPECT_EXIT(
        {
            const bool installed = plat::CrashReporter::Install(m_Directory, &ExceptionCodeName);
            _exit(installed && plat::CrashReporter::IsActive() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(TheReport(), "") << "installing alone writes nothing";
}

TEST_F(CrashReporterTest, NullPointerWriteInNamedThreadLeavesAReport) {
    EXPECT_EXIT(CrashInNamedThread(m_Directory, "NullWriter", &WriteThroughNull),
                ::testing::KilledBySignal(SIGSEGV), kReportLine);
    const std::string report = TheReport();
    ASSERT_FALSE(report.empty());
    EXPECT_NE(report.find("Thread: NullWriter (id "), std::string::npos) << report;
    EXPECT_NE(report.find("Exception: ACCESS_VIOLATION 0xC0000005"), std::string::npos) << report;
    EXPECT_NE(report.find("Address: 0x0000000000000000"), std::string::npos) << report;
    EXPECT_GE(StackLines(report), 3) << report;
}

TEST_F(CrashReporterTest, IntegerDivisionByZeroInNamedThreadLeavesAReport) {
    EXPECT_EXIT(CrashInNamedThread(m_Directory, "Divider", &DivideByZero), ::testing::KilledBySignal(SIGFPE),
                kReportLine);
    const std::string report = TheReport();
    ASSERT_FALSE(report.empty());
    EXPECT_NE(report.find("Thread: Divider (id "), std::string::npos) << report;
    EXPECT_NE(report.find("Exception: INTEGER_DIVIDE_BY_ZERO 0xC0000094"), std::string::npos) << report;
    EXPECT_GE(StackLines(report), 3) << report;
}

TEST_F(CrashReporterTest, AbortIsReportedAsRuntimeTerminate) {
    EXPECT_EXIT(CrashInNamedThread(m_Directory, "Aborter", &Abort), ::testing::KilledBySignal(SIGABRT),
                kReportLine);
    const std::string report = TheReport();
    EXPECT_NE(report.find("Thread: Aborter (id "), std::string::npos) << report;
    EXPECT_NE(report.find("Exception: RUNTIME_TERMINATE 0x0EEDFAE2"), std::string::npos) << report;
}

TEST_F(CrashReporterTest, StackOverflowInPreparedThreadIsReported) {
    EXPECT_EXIT(CrashInNamedThread(m_Directory, "Recurser", &OverflowStack), ::testing::KilledBySignal(SIGSEGV),
                kReportLine);
    const std::string report = TheReport();
    EXPECT_NE(report.find("Thread: Recurser (id "), std::string::npos) << report;
    EXPECT_NE(report.find("Exception: STACK_OVERFLOW 0xC00000FD"), std::string::npos) << report;
}

}  // namespace
