#include "infra/OrvalisCollectorProxy.h"

#include <filesystem>
#include <system_error>

#include "infra/Log.h"
#include "platform/ModuleFile.h"

namespace {

constexpr const char* kCollectorModule = "OrvalisCollector.dll";

template <typename Func>
Func Resolve(plat::ModuleHandle module, const char* name) {
    return reinterpret_cast<Func>(plat::ResolveSymbol(module, name));
}

}  // namespace

COrvalisCollectorProxy& COrvalisCollectorProxy::Instance() {
    // Never destroyed: the logging thread may still report while the
    // process exits.
    static COrvalisCollectorProxy* const instance = new COrvalisCollectorProxy();
    return *instance;
}

std::vector<std::string> COrvalisCollectorProxy::DefaultCandidates() {
    const std::string file = plat::ModuleFileName(kCollectorModule);
    std::error_code error;
    const std::string currentDir = std::filesystem::current_path(error).string();
    return {
        plat::ExecutableDir() + file,
        "../" + file,
        currentDir + "/" + file,
        currentDir + "/../" + file,
    };
}

COrvalisCollectorProxy::COrvalisCollectorProxy(std::vector<std::string> candidates)
    : m_Candidates(std::move(candidates)) {}

COrvalisCollectorProxy::~COrvalisCollectorProxy() { UnloadCollector(); }

bool COrvalisCollectorProxy::LoadCollector() {
    std::lock_guard lock(m_Lock);
    return LoadLocked();
}

bool COrvalisCollectorProxy::LoadLocked() {
    m_LoadAttempted = true;
    if (m_Module != nullptr) return true;
    const std::vector<std::string> candidates = m_Candidates.empty() ? DefaultCandidates() : m_Candidates;
    std::string loadedPath;
    for (const std::string& path : candidates) {
        m_Module = plat::LoadModuleFile(path);
        if (m_Module != nullptr) {
            loadedPath = path;
            break;
        }
    }
    if (m_Module == nullptr) {
        GetLog()->LogInfo("LoadCollecterDll Fail");
        return false;
    }
    GetLog()->LogInfo("LoadCollecterDll Ok!  path: %s", loadedPath.c_str());
    m_EasyInit = Resolve<EventReportEasyInitFunc>(m_Module, "EventReportEasyInit");
    m_EasyCleanup = Resolve<EventReportEasyCleanupFunc>(m_Module, "EventReportEasyCleanup");
    m_EventReport = Resolve<EventReportAFunc>(m_Module, "EventReportA");
    m_InstallEventReport = Resolve<InstallEventReportAFunc>(m_Module, "InstallEventReportA");
    m_SetEventReportParam = Resolve<SetEventReportParamAFunc>(m_Module, "SetEventReportParamA");
    if (m_EasyInit == nullptr || m_EasyCleanup == nullptr || m_EventReport == nullptr ||
        m_InstallEventReport == nullptr || m_SetEventReportParam == nullptr) {
        ForgetModule();
        return false;
    }
    return true;
}

bool COrvalisCollectorProxy::EnsureCollector() {
    std::lock_guard lock(m_Lock);
    return EnsureLocked();
}

bool COrvalisCollectorProxy::EnsureLocked() {
    // The once-flag states the rule (one load attempt, one EventReportEasyInit
    // per process); the lock, needed anyway so UnloadCollector cannot drop the
    // module under a report, is what makes a report from the logging thread
    // wait for a load under way on the window thread.
    std::call_once(m_FirstUse, [this] {
        if (!m_LoadAttempted) LoadLocked();
        if (m_Module != nullptr && !m_EasyInitCalled) {
            m_EasyInit();
            m_EasyInitCalled = true;
        }
    });
    return m_Module != nullptr && m_EasyInitCalled;
}

void COrvalisCollectorProxy::CleanupCollector() {
    std::lock_guard lock(m_Lock);
    CleanupLocked();
}

void COrvalisCollectorProxy::CleanupLocked() {
    if (m_Module != nullptr && m_EasyInitCalled) {
        m_EasyCleanup();
        m_EasyInitCalled = false;
    }
}

void COrvalisCollectorProxy::UnloadCollector() {
    std::lock_guard lock(m_Lock);
    CleanupLocked();
    ForgetModule();
}

void COrvalisCollectorProxy::ForgetModule() {
    m_EasyInit = nullptr;
    m_EasyCleanup = nullptr;
    m_EventReport = nullptr;
    m_InstallEventReport = nullptr;
    m_SetEventReportParam = nullptr;
    plat::UnloadModule(m_Module);
    m_Module = nullptr;
}

bool COrvalisCollectorProxy::ReportEvent(const std::string& sessionId, const std::string& productId,
                                         const std::string& zoneName, const std::string& operatorId, int eventId,
                                         const std::string& content) {
    std::lock_guard lock(m_Lock);
    if (!EnsureLocked()) return false;
    return m_EventReport(sessionId.c_str(), productId.c_str(), zoneName.c_str(), operatorId.c_str(), eventId,
                         content.c_str()) == 0;
}

bool COrvalisCollectorProxy::SetReportParam(const std::string& appId, const std::string& secret) {
    std::lock_guard lock(m_Lock);
    if (!EnsureLocked()) return false;
    return m_SetEventReportParam(appId.c_str(), secret.c_str()) == 0;
}
