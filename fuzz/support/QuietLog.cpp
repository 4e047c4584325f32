// GetLog() for the fuzz targets: a log that keeps nothing. The code under
// test logs every bad input it meets; loading libLognest.so and writing
// files for millions of inputs would cost more than the parsing itself, and
// the targets check results, not log lines. Linked instead of infra's Log.cpp.
#include "infra/Log.h"

namespace {

class QuietLog final : public LogService {
public:
    const char* GetLevelName(int level) override {
        return (level >= 0 && level < kLogLevelCount) ? kLogLevelNames[level] : "";
    }
    std::string GetLogDirectory() override { return {}; }
    void Flush() override {}
    void LogRun(const char*, ...) override {}
    void LogNote(const char*, ...) override {}
    void LogText(int, const char*) override {}
    void LogAlarm(const char*, ...) override {}
    uint8_t GetOutputMask() override { return 0xFF; }
    void SetOutputMask(uint8_t) override {}
    std::string GetServerName() override { return "Fuzz"; }
    void SetNotifyWindow(void*) override {}
    void PyOutput(int, const char*) override {}
    void* GetNotifyWindow() override { return nullptr; }
    void PyErrorOutput(int, const char*) override {}
    void SetLogDirectory(const char*, const char*) override {}
    int GetFatalCount() override { return 0; }
    int GetErrorCount() override { return 0; }
    int GetLogFatalErrorCount() override { return 0; }
    int64_t GetTotalCount() override { return 0; }
    int64_t GetPendingCount() override { return 0; }
    std::string GetFileName(bool) override { return {}; }
    void LogNomal(const char*, ...) override {}
    void LogInfo(const char*, ...) override {}
    void LogDebug(const char*, ...) override {}
    void LogPyWarn(const char*, ...) override {}
    void LogWarn(const char*, ...) override {}
    void LogDesign(const char*, ...) override {}
    void LogPyErr(const char*, ...) override {}
    void LogError(const char*, ...) override {}
    void LogFatal(const char*, ...) override {}
    void LogV(int, const char*, va_list) override {}
    void Reserved31() override {}
    void ReopenFiles() override {}
    void Reserved33() override {}
    void Reserved34() override {}
    void Reserved35() override {}
    int GetErrorCountAlt() override { return 0; }
    int GetFatalCountAlt() override { return 0; }
    int GetLevelCount(int) override { return 0; }
    void Reserved39() override {}
    void SetMarkerFlag(bool) override {}
    void SetServerName(const char*) override {}
    std::string GetLastErrorTime() override { return {}; }
    bool GetMarkerFlag() override { return false; }
    std::string GetLastFatalTime() override { return {}; }
    void Reserved45() override {}
    void Reserved46() override {}
    void Reserved47() override {}
    void SetLogHook(LogHook, void*) override {}
};

}  // namespace

LogService* GetLog() {
    static QuietLog log;
    return &log;
}
