// A LogService for unit tests: it keeps every entry in memory, synchronously,
// so a test can assert the exact texts and levels a component wrote. Install
// it with ScopedCapturingLog; GetLog() then returns it instead of loading the
// module. Safe for concurrent writers.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "infra/Log.h"

#define CAPTURE_ENTRY(level)                     \
    do {                                   \
        va_list args;                      \
        va_start(args, format);            \
        Add(level, Format(format, args));  \
        va_end(args);                      \
    } while (0)

namespace testsupport {

struct LogEntry {
    int level;
    std::string text;
};

class CapturingLog final : public LogService {
public:
    std::vector<LogEntry> Entries() const {
        std::lock_guard lock(m_Mutex);
        return m_Entries;
    }
    // Texts of the entries at one level, in order.
    std::vector<std::string> Texts(int level) const {
        std::lock_guard lock(m_Mutex);
        std::vector<std::string> texts;
        for (const auto& entry : m_Entries) {
            if (entry.level == level) texts.push_back(entry.text);
        }
        return texts;
    }
    // True when some entry at this level has exactly this text.
    bool Has(int level, const std::string& text) const {
        std::lock_guard lock(m_Mutex);
        for (const auto& entry : m_Entries) {
            if (entry.level == level && entry.text == text) return true;
        }
        return false;
    }
    // Number of entries whose text contains the fragment (any level).
    int CountContaining(const std::string& fragment) const {
        std::lock_guard lock(m_Mutex);
        int count = 0;
        for (const auto& entry : m_Entries) {
            if (entry.text.find(fragment) != std::string::npos) ++count;
        }
        return count;
    }
    void Clear() {
        std::lock_guard lock(m_Mutex);
        m_Entries.clear();
    }

    const char* GetLevelName(int level) override {
        return (level >= 0 && level < kLogLevelCount) ? kLogLevelNames[level] : "";
    }
    std::string GetLogDirectory() override { return m_Directory; }
    void Flush() override {}
    void LogRun(const char* format, ...) override { CAPTURE_ENTRY(llInfo); }
    void LogNote(const char* format, ...) override { CAPTURE_ENTRY(llInfo); }
    void LogText(int level, const char* text) override { Add(level, text); }
    void LogAlarm(const char* format, ...) override { CAPTURE_ENTRY(llWarn); }
    uint8_t GetOutputMask() override { return m_Mask; }
    void SetOutputMask(uint8_t mask) override { m_Mask = mask; }
    std::string GetServerName() override { return "Test"; }
    void SetNotifyWindow(void*) override {}
    void PyOutput(int, const char* text) override { Add(llNomal, text); }
    void* GetNotifyWindow() override { return nullptr; }
    void PyErrorOutput(int, const char* text) override { Add(llPyWarn, text); }
    void SetLogDirectory(const char* directory, const char*) override { m_Directory = directory; }
    int GetFatalCount() override { return static_cast<int>(Texts(llFatal).size()); }
    int GetErrorCount() override { return static_cast<int>(Texts(llError).size()); }
    int GetLogFatalErrorCount() override { return GetFatalCount() + GetErrorCount(); }
    int64_t GetTotalCount() override { return static_cast<int64_t>(Entries().size()); }
    int64_t GetPendingCount() override { return 0; }
    std::string GetFileName(bool) override { return {}; }
    void LogNomal(const char* format, ...) override { CAPTURE_ENTRY(llNomal); }
    void LogInfo(const char* format, ...) override { CAPTURE_ENTRY(llInfo); }
    void LogDebug(const char* format, ...) override { CAPTURE_ENTRY(llDebug); }
    void LogPyWarn(const char* format, ...) override { CAPTURE_ENTRY(llPyWarn); }
    void LogWarn(const char* format, ...) override { CAPTURE_ENTRY(llWarn); }
    void LogDesign(const char* format, ...) override { CAPTURE_ENTRY(llDesign); }
    void LogPyErr(const char* format, ...) override { CAPTURE_ENTRY(llPyErr); }
    void LogError(const char* format, ...) override { CAPTURE_ENTRY(llError); }
    void LogFatal(const char* format, ...) override { CAPTURE_ENTRY(llFatal); }
    void LogV(int level, const char* format, va_list args) override { Add(level, Format(format, args)); }
    void Reserved31() override {}
    void ReopenFiles() override {}
    void Reserved33() override {}
    void Reserved34() override {}
    void Reserved35() override {}
    int GetErrorCountAlt() override { return GetErrorCount(); }
    int GetFatalCountAlt() override { return GetFatalCount(); }
    int GetLevelCount(int level) override { return static_cast<int>(Texts(level).size()); }
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

private:
    static std::string Format(const char* format, va_list args) {
        va_list copy;
        va_copy(copy, args);
        const int length = std::vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        std::string text(length > 0 ? static_cast<size_t>(length) : 0u, '\0');
        if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
        return text;
    }
    void Add(int level, std::string text) {
        std::lock_guard lock(m_Mutex);
        m_Entries.push_back({level, std::move(text)});
    }

    mutable std::mutex m_Mutex;
    std::vector<LogEntry> m_Entries;
    std::string m_Directory;
    uint8_t m_Mask = 0x3E;
};

// Installs a CapturingLog for the lifetime of the object.
class ScopedCapturingLog {
public:
    ScopedCapturingLog() { logtest::SetLogServiceForTesting(&m_Log); }
    ~ScopedCapturingLog() { logtest::SetLogServiceForTesting(nullptr); }
    CapturingLog& operator*() { return m_Log; }
    CapturingLog* operator->() { return &m_Log; }

private:
    CapturingLog m_Log;
};

}  // namespace testsupport
