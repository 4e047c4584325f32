// The StatusServer link's steps in the main window's flow: the link library
// is loaded when the window is created, connected and logged in when a start
// begins, run once the relay runs, stopped and released with the relay. It
// owns the loader of the script library and the window's request handler,
// which answers base-information requests and "GetErrorLog" itself and
// offers everything else to the script library. Steps run on the window
// thread; the request handler on the status request thread.
#pragma once

#include <memory>

#include "SSLogicProcess/SSProcessDLLLoad.h"

class CConfigFileProxy;
class IMainView;
class StartupExtensions;

class StatusLinkExtension {
public:
    static constexpr const char* kServerName = "VarnholtServer";
    static constexpr int kServerType = 2;
    static constexpr int kServerIndex = 0;

    // settings: the window's Config\Config.ini, opened before the first step
    // runs (not owned).
    StatusLinkExtension(IMainView& view, const std::unique_ptr<CConfigFileProxy>& settings);
    StatusLinkExtension(const StatusLinkExtension&) = delete;
    StatusLinkExtension& operator=(const StatusLinkExtension&) = delete;

    void Register(StartupExtensions& extensions);

    // The window's request handler, with this object as context.
    static bool OnStatusRequest(void* context, MMORPG::MMORPGPacket* packet);

private:
    bool CreateLink();
    bool StartLink();
    bool StartRun();
    bool StopLink();
    bool StopRelease();
    bool DestroyLink();

    IMainView& m_View;
    const std::unique_ptr<CConfigFileProxy>& m_Settings;
    SSProcessDLLLoad m_ScriptLibrary;
};
