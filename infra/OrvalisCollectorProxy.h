// The program's link to OrvalisCollector.dll, the event collector that the
// error-log event notice reports to. The module is looked for on first use
// and, when missing or incomplete, the feature is off for good ("LoadCollecterDll
// Fail"); the server runs on. The first use may come from any thread (the log
// hook runs on the logging thread), so loading and the collector's one-time
// EventReportEasyInit run exactly once, and a lock keeps UnloadCollector from
// pulling the module out from under a report.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "modules/OrvalisCollector/OrvalisCollector.h"
#include "platform/ModuleLoader.h"

class COrvalisCollectorProxy {
public:
    // The process-wide collector link, never destroyed.
    static COrvalisCollectorProxy& Instance();

    // The files tried in order, when none are given: the module beside the
    // executable, then "../", "<current dir>/" and "<current dir>/../".
    static std::vector<std::string> DefaultCandidates();

    explicit COrvalisCollectorProxy(std::vector<std::string> candidates = {});
    ~COrvalisCollectorProxy();  // UnloadCollector
    COrvalisCollectorProxy(const COrvalisCollectorProxy&) = delete;
    COrvalisCollectorProxy& operator=(const COrvalisCollectorProxy&) = delete;

    // Marks the attempt, loads the first candidate that loads and resolves
    // the five exports; false (module unloaded) when one is missing.
    bool LoadCollector();
    // False when an earlier attempt failed (no retry); loads on the first
    // call and then calls EventReportEasyInit once. True when usable.
    bool EnsureCollector();
    void CleanupCollector();
    // Cleanup, then unload; a later EnsureCollector answers false.
    void UnloadCollector();

    // EventReportA with the six arguments; false when the collector is not
    // usable or refused the report.
    bool ReportEvent(const std::string& sessionId, const std::string& productId, const std::string& zoneName,
                     const std::string& operatorId, int eventId, const std::string& content);
    bool SetReportParam(const std::string& appId, const std::string& secret);

private:
    bool LoadLocked();       // requires m_Lock
    bool EnsureLocked();     // requires m_Lock
    void CleanupLocked();    // requires m_Lock
    void ForgetModule();     // requires m_Lock

    std::vector<std::string> m_Candidates;  // empty: DefaultCandidates() at load time
    std::once_flag m_FirstUse;
    std::mutex m_Lock;
    bool m_LoadAttempted = false;           // guarded by m_Lock
    bool m_EasyInitCalled = false;          // guarded by m_Lock
    plat::ModuleHandle m_Module = nullptr;  // guarded by m_Lock
    EventReportEasyInitFunc m_EasyInit = nullptr;
    EventReportEasyCleanupFunc m_EasyCleanup = nullptr;
    EventReportAFunc m_EventReport = nullptr;
    InstallEventReportAFunc m_InstallEventReport = nullptr;
    SetEventReportParamAFunc m_SetEventReportParam = nullptr;
};
