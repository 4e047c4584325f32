// The module's LogService: the one process-wide log object behind the
// exported GetLog(). Entry calls format the text, stamp it, count it and
// queue it on the caller's thread; its LogWriter's thread writes the day
// files and runs the hook. Every operation is safe on any thread at any time
// until Log_Free() destroys the object; the exports own it.
#pragma once

#include <atomic>
#include <cstdarg>
#include <memory>
#include <mutex>
#include <string>

#include "modules/Lognest/LogCounters.h"
#include "modules/Lognest/LogService.h"
#include "modules/Lognest/LogWriter.h"

namespace lognest {

inline constexpr const char* kDefaultLogDirectory = "D:\\ServerLog\\";
inline constexpr const char* kDefaultServerName = "Server";

class LognestService final : public LogService {
public:
    LognestService();
    ~LognestService();
    LognestService(const LognestService&) = delete;
    LognestService& operator=(const LognestService&) = delete;

    // Writes every queued entry and ends the logging thread; later entries
    // are written on their callers' threads. False when called from the
    // logging thread (the hook), where it cannot wait for itself.
    bool Shutdown();

    const char* GetLevelName(int level) override;
    std::string GetLogDirectory() override;
    void Flush() override;
    void LogRun(const char* format, ...) override;
    void LogNote(const char* format, ...) override;
    void LogText(int level, const char* text) override;
    void LogAlarm(const char* format, ...) override;
    uint8_t GetOutputMask() override;
    void SetOutputMask(uint8_t mask) override;
    std::string GetServerName() override;
    void SetNotifyWindow(void* window) override;
    void PyOutput(int kind, const char* text) override;
    void* GetNotifyWindow() override;
    void PyErrorOutput(int kind, const char* text) override;
    void SetLogDirectory(const char* directory, const char* text) override;
    int GetFatalCount() override;
    int GetErrorCount() override;
    int GetLogFatalErrorCount() override;
    int64_t GetTotalCount() override;
    int64_t GetPendingCount() override;
    std::string GetFileName(bool warnFile) override;
    void LogNomal(const char* format, ...) override;
    void LogInfo(const char* format, ...) override;
    void LogDebug(const char* format, ...) override;
    void LogPyWarn(const char* format, ...) override;
    void LogWarn(const char* format, ...) override;
    void LogDesign(const char* format, ...) override;
    void LogPyErr(const char* format, ...) override;
    void LogError(const char* format, ...) override;
    void LogFatal(const char* format, ...) override;
    void LogV(int level, const char* format, va_list args) override;
    void Reserved31() override {}
    void ReopenFiles() override;
    void Reserved33() override {}
    void Reserved34() override {}
    void Reserved35() override {}
    int GetErrorCountAlt() override;
    int GetFatalCountAlt() override;
    int GetLevelCount(int level) override;
    void Reserved39() override {}
    void SetMarkerFlag(bool markerFileExists) override;
    void SetServerName(const char* name) override;
    std::string GetLastErrorTime() override;
    bool GetMarkerFlag() override;
    std::string GetLastFatalTime() override;
    void Reserved45() override {}
    void Reserved46() override {}
    void Reserved47() override {}
    void SetLogHook(LogHook hook, void* context) override;

private:
    void Format(int level, const char* format, va_list args);
    void Enqueue(int level, std::string&& text);
    // Queues a settings change so it takes effect between the entries made
    // before and after it.
    void EnqueueSetting(EntryKind kind, const std::string& value);

    LogCounters m_Counters;
    std::atomic<uint8_t> m_OutputMask;
    std::atomic<void*> m_NotifyWindow{nullptr};
    std::atomic<bool> m_MarkerFlag{false};

    // The caller-side copy of the file settings, for the getters. Changes
    // are queued while holding it, so the queue sees them in the same order.
    mutable std::mutex m_SettingsMutex;
    std::string m_Directory;   // guarded by m_SettingsMutex
    std::string m_ServerName;  // guarded by m_SettingsMutex

    std::unique_ptr<LogWriter> m_Writer;  // last: its thread starts when all else is set
};

}  // namespace lognest
