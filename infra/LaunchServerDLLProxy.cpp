#include "infra/LaunchServerDLLProxy.h"

#include "infra/Log.h"
#include "platform/ModuleFile.h"

CLaunchServerDLLProxy& CLaunchServerDLLProxy::Instance() {
    // Never destroyed: at process exit the module may already be gone, and
    // the window releases the controller itself when it is destroyed.
    static CLaunchServerDLLProxy* const instance = new CLaunchServerDLLProxy();
    return *instance;
}

CLaunchServerDLLProxy::CLaunchServerDLLProxy(std::string moduleName) : m_ModuleName(std::move(moduleName)) {}

CLaunchServerDLLProxy::~CLaunchServerDLLProxy() {
    Release();
    Unload();
}

bool CLaunchServerDLLProxy::IsInited() { return m_Inited; }

bool CLaunchServerDLLProxy::Init(LaunchRequestFunc startRequest, LaunchRequestFunc stopRequest) {
    if (m_Inited) return true;
    if (m_Module == nullptr) {
        m_Module = plat::LoadModule(m_ModuleName);
        if (m_Module == nullptr) {
            GetLog()->LogInfo("CLaunchServerDLLProxy::Init  %s not loaded: %s", m_ModuleName.c_str(),
                              plat::LastModuleError().c_str());
            return false;
        }
    }
    m_GetInstance =
        reinterpret_cast<GetLaunchControlInstanceFunc>(plat::ResolveSymbol(m_Module, "GetLaunchControlInstance"));
    m_ReleaseInstance = reinterpret_cast<ReleaseLaunchControlInstanceFunc>(
        plat::ResolveSymbol(m_Module, "ReleaseLaunchControlInstance"));
    if (m_GetInstance == nullptr || m_ReleaseInstance == nullptr) {
        GetLog()->LogInfo("CLaunchServerDLLProxy::Init  %s lacks %s", m_ModuleName.c_str(),
                          m_GetInstance == nullptr ? "GetLaunchControlInstance" : "ReleaseLaunchControlInstance");
        Unload();
        return false;
    }
    LaunchControl* control = m_GetInstance();
    if (control == nullptr || !control->Init(startRequest, stopRequest, 0)) {
        GetLog()->LogInfo("CLaunchServerDLLProxy::Init  LaunchControl::Init failed: %s",
                          control != nullptr ? control->GetLastError() : "no controller");
        // Nothing of a controller that could not open its endpoint is kept.
        ReleaseInstance();
        Unload();
        return false;
    }
    m_Inited = true;
    return true;
}

bool CLaunchServerDLLProxy::Release() {
    if (!m_Inited) return true;
    ReleaseInstance();
    Unload();
    m_Inited = false;
    return true;
}

LaunchControl* CLaunchServerDLLProxy::GetLaunchControl() {
    if (!m_Inited || m_GetInstance == nullptr) return nullptr;
    return m_GetInstance();
}

void CLaunchServerDLLProxy::ReleaseInstance() {
    if (m_ReleaseInstance != nullptr) m_ReleaseInstance();
}

void CLaunchServerDLLProxy::Unload() {
    m_GetInstance = nullptr;
    m_ReleaseInstance = nullptr;
    plat::UnloadModule(m_Module);
    m_Module = nullptr;
}
