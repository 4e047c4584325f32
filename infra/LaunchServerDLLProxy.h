// The program's link to LaunchServerDLL.dll, through which an outside
// launcher starts and stops the gateway. Init loads the module and hands the
// controller the window's start and stop requests; a missing module or
// export only turns the feature off (Init answers false and the window logs
// "LaunchDLL Init Fail!!"). One process-wide instance, created on first use
// and never destroyed; every operation runs on the window thread.
#pragma once

#include <string>

#include "modules/LaunchServerDLL/LaunchControl.h"
#include "platform/ModuleLoader.h"

class CLaunchServerDLLProxy {
public:
    static CLaunchServerDLLProxy& Instance();

    // moduleName is the Windows-style module name ("LaunchServerDLL.dll"), looked up beside the executable.
    explicit CLaunchServerDLLProxy(std::string moduleName = "LaunchServerDLL.dll");
    CLaunchServerDLLProxy(const CLaunchServerDLLProxy&) = delete;
    CLaunchServerDLLProxy& operator=(const CLaunchServerDLLProxy&) = delete;

    /* 0 */ virtual ~CLaunchServerDLLProxy();  // Release first
    /* 1 */ virtual bool IsInited();
    // True at once when initialised. Loads the module (when none is loaded),
    // resolves both exports and calls the controller's Init with the two
    // requests; any failure leaves the module unloaded and answers false.
    /* 2 */ virtual bool Init(LaunchRequestFunc startRequest, LaunchRequestFunc stopRequest);
    // Releases the controller and unloads the module; true (also when not
    // initialised).
    /* 3 */ virtual bool Release();
    // The controller when initialised, else nullptr.
    /* 4 */ virtual LaunchControl* GetLaunchControl();
    /* 5 */ virtual void ReleaseInstance();

private:
    void Unload();

    std::string m_ModuleName;
    plat::ModuleHandle m_Module = nullptr;
    GetLaunchControlInstanceFunc m_GetInstance = nullptr;
    ReleaseLaunchControlInstanceFunc m_ReleaseInstance = nullptr;
    bool m_Inited = false;
};
