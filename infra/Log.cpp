#include "infra/Log.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/ErrorBox.h"
#include "platform/ModuleLoader.h"

namespace {

// Resolved once on the first GetLog(). The server's first call comes from
// the window thread before any worker exists, but a once-flag costs one load
// per call and keeps a first call from two threads (tools, tests) safe.
std::once_flag g_moduleLoaded;
GetLogFunc g_moduleGetLog = nullptr;
LogFreeFunc g_moduleLogFree = nullptr;
std::atomic<LogService*> g_testLog{nullptr};

void LoadLognest() {
    plat::ModuleHandle module = plat::LoadModule("Lognest.dll");
    if (module == nullptr) {
        plat::FatalErrorBox("Can't find lognest.dll!!!Fail to start server!!!");
    }
    auto getLog = reinterpret_cast<GetLogFunc>(plat::ResolveSymbol(module, "GetLog"));
    if (getLog == nullptr) {
        plat::FatalErrorBox("Can't find GetLog function in lognest module!!!Fail to start server!!!");
    }
    auto logFree = reinterpret_cast<LogFreeFunc>(plat::ResolveSymbol(module, "Log_Free"));
    if (logFree == nullptr) {
        plat::FatalErrorBox("Can't find Log_Free function in lognest module!!!Fail to start server!!!");
    }
    g_moduleLogFree = logFree;
    g_moduleGetLog = getLog;
}

bool HasConsole() {
    static const bool hasConsole = ::isatty(STDOUT_FILENO) == 1;
    return hasConsole;
}

}  // namespace

LogService* GetLog() {
    if (LogService* testLog = g_testLog.load(std::memory_order_acquire)) return testLog;
    std::call_once(g_moduleLoaded, LoadLognest);
    return g_moduleGetLog();
}

void Log_Free() {
    if (g_testLog.load(std::memory_order_acquire) != nullptr) return;
    std::call_once(g_moduleLoaded, LoadLognest);
    g_moduleLogFree();
}

void LogLine(const char* text) {
    if (text == nullptr) text = "";
    if (HasConsole()) {
        char stamp[32];
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
        std::printf("%s\t%s\n", stamp, text);
    }
    GetLog()->LogText(llInfo, text);
}

namespace logtest {
void SetLogServiceForTesting(LogService* log) { g_testLog.store(log, std::memory_order_release); }
}  // namespace logtest
