#include "infra/ErrorLogEventNotice.h"

#include <filesystem>
#include <system_error>

#include "infra/CommonFunc.h"
#include "infra/Log.h"
#include "platform/Tick.h"
#include "platform/WinPath.h"

CErrorLogEventNotice& CErrorLogEventNotice::Instance() {
    static CErrorLogEventNotice* const instance = new CErrorLogEventNotice(COrvalisCollectorProxy::Instance());
    return *instance;
}

CErrorLogEventNotice::CErrorLogEventNotice(COrvalisCollectorProxy& collector, std::string iniFile)
    : m_Collector(&collector), m_IniFile(std::move(iniFile)) {}

CErrorLogEventNotice::~CErrorLogEventNotice() {
    if (m_Hooked) GetLog()->SetLogHook(nullptr, nullptr);
}

void CErrorLogEventNotice::StartNotice(const char* serverName) {
    if (IsArmed()) return;
    if (!m_Config) {
        auto config = std::make_unique<CConfigFileProxy>();
        if (!config->IsValid()) return;
        m_Config = std::move(config);
    }
    std::error_code error;
    if (!std::filesystem::exists(plat::TranslatePath(m_IniFile), error)) return;

    GetLog()->SetLogHook(&CErrorLogEventNotice::OnLogEntry, this);
    m_Hooked = true;
    m_Config->Open(m_IniFile, kSection);
    if (!m_Config->ReadBool("IsOpen", false)) return;
    m_Open.store(true, std::memory_order_release);
    ReadSettings();
    m_ServerName = serverName != nullptr ? serverName : "";
    m_Armed.store(true, std::memory_order_release);
}

void CErrorLogEventNotice::ReadSettings() {
    const std::string secret = m_Config->ReadString("Secret", "");
    const std::string appId = m_Config->ReadString("AppId", "");
    m_Collector->SetReportParam(appId, secret);
    m_SessionId = m_Config->ReadString("SessionID", "");
    m_ProductId = m_Config->ReadString("ProductID", "");
    m_ZoneName = m_Config->ReadString("ZoneName", "");
    m_OperatorId = m_Config->ReadString("OperatorID", "");
    m_EventId = m_Config->ReadInt("EventID", kDefaultEventId);
    int interval = m_Config->ReadInt("Interval", kDefaultIntervalMs);
    if (interval < 0) {
        // As an unsigned period it would mean "never" (about 49 days).
        GetLog()->LogWarn("CErrorLogEventNotice::StartNotice  Interval %d is negative, %d used", interval,
                          kDefaultIntervalMs);
        interval = kDefaultIntervalMs;
    }
    m_IntervalMs = interval;
}

void CErrorLogEventNotice::StopNotice() {
    m_Open.store(false, std::memory_order_release);
    m_Armed.store(false, std::memory_order_release);
    if (m_Hooked) {
        // Returns only when a hook call under way has finished, so a later
        // StartNotice may rewrite the settings safely.
        GetLog()->SetLogHook(nullptr, nullptr);
        m_Hooked = false;
    }
    m_Config.reset();
    m_Collector->UnloadCollector();
}

void CErrorLogEventNotice::TickNotice() {
    if (!IsArmed()) return;
    const uint32_t now = plat::GetTickMs();
    if (now - m_LastReportTick.load(std::memory_order_acquire) < static_cast<uint32_t>(m_IntervalMs)) return;
    SendReport();
    m_LastReportTick.store(now, std::memory_order_release);
}

void CErrorLogEventNotice::OnLogEntry(void* context, int level, const char* /*text*/) {
    if (level == llPyErr || level == llError || level == llFatal) {
        static_cast<CErrorLogEventNotice*>(context)->OnError();
    }
}

void CErrorLogEventNotice::OnError() {
    if (!IsArmed() || !IsOpen()) return;
    bool expected = false;
    // The first error of the process reports at once, and only the first.
    if (!m_ImmediateReportSent.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) return;
    SendReport();
    m_LastReportTick.store(plat::GetTickMs(), std::memory_order_release);
}

void CErrorLogEventNotice::SendReport() {
    if (!IsArmed()) return;
    LogService* log = GetLog();
    const std::string content = FormatText("%s,%d,%d,%d", m_ServerName.c_str(), log->GetLevelCount(llPyErr),
                                           log->GetLevelCount(llError), log->GetLevelCount(llFatal));
    m_Collector->ReportEvent(m_SessionId, m_ProductId, m_ZoneName, m_OperatorId, m_EventId, content);
}
