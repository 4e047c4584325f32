// The error-log event notice: while armed it reports the server's PyErr,
// Error and Fatal counts to the event collector, once at once on the first
// such log entry and then every "Interval" ms from the window's refresh
// timer. Settings come from "ErrorLogEventNotice.ini"; without that file, or
// with "IsOpen" false, nothing is reported and nothing logged.
//
// StartNotice, StopNotice and TickNotice run on the window thread. The log
// hook runs on the log's own thread and may report from there; it reads only
// flags (atomics) and settings written before the notice is armed.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "infra/ConfigFileProxy.h"
#include "infra/OrvalisCollectorProxy.h"

class CErrorLogEventNotice {
public:
    static constexpr const char* kIniFile = "ErrorLogEventNotice.ini";
    static constexpr const char* kSection = "ErrorLogEventNotice";
    static constexpr int kDefaultEventId = 22222;
    static constexpr int kDefaultIntervalMs = 60000;

    // The process-wide notice over the process-wide collector link; never
    // destroyed, as the log may call its hook until the process ends.
    static CErrorLogEventNotice& Instance();

    // iniFile: a Windows-style path relative to the current directory.
    explicit CErrorLogEventNotice(COrvalisCollectorProxy& collector, std::string iniFile = kIniFile);
    // Unhooks from the log when still hooked.
    ~CErrorLogEventNotice();
    CErrorLogEventNotice(const CErrorLogEventNotice&) = delete;
    CErrorLogEventNotice& operator=(const CErrorLogEventNotice&) = delete;

    void StartNotice(const char* serverName);
    void StopNotice();
    void TickNotice();

    bool IsArmed() const { return m_Armed.load(std::memory_order_acquire); }
    bool IsOpen() const { return m_Open.load(std::memory_order_acquire); }

private:
    static void OnLogEntry(void* context, int level, const char* text);
    void OnError();
    // Reads everything but "IsOpen" and hands the app id and secret on.
    void ReadSettings();
    void SendReport();

    COrvalisCollectorProxy* m_Collector;  // not owned
    std::string m_IniFile;

    // Fields in their documented order; the texts, the event id and the
    // interval are written only while not armed.
    std::atomic<bool> m_Open{false};
    std::string m_SessionId;
    std::string m_ProductId;
    std::string m_ZoneName;
    std::string m_OperatorId;
    int m_EventId = 0;
    std::string m_ServerName;
    std::atomic<bool> m_ImmediateReportSent{false};
    std::atomic<uint32_t> m_LastReportTick{0};
    int m_IntervalMs = kDefaultIntervalMs;
    std::atomic<bool> m_Armed{false};
    std::unique_ptr<CConfigFileProxy> m_Config;
    bool m_Hooked = false;  // window thread only
};
