// SSProcessDLLLoad: loads SSCommonLogic.dll, the optional library that is
// offered every status request the gateway's own handlers leave, and hands
// it the send function its answers go out through. Found by the system's
// normal library search (the executables' run path includes their own
// folder). Owned by the main window; used on the window thread, Dispatch on
// the status request thread while the link runs.
#pragma once

#include "ShareDefine/MMORPGPacket.h"
#include "platform/ModuleLoader.h"

// The send function the library calls: (context, head, head length,
// content, content length) -> the send's result.
using SSPackSendFunc = int (*)(void* context, const char* head, int headLength, const char* content, int contentLength);

extern "C" {
using SetPackSendFuncFunc = void (*)(SSPackSendFunc sendFunction, void* context);
using OnStatusRequestFunc = bool (*)(MMORPG::MMORPGPacket* packet);
}

class SSProcessDLLLoad {
public:
    static constexpr const char* kLibraryName = "SSCommonLogic.dll";

    SSProcessDLLLoad() = default;
    ~SSProcessDLLLoad() { Unload(); }
    SSProcessDLLLoad(const SSProcessDLLLoad&) = delete;
    SSProcessDLLLoad& operator=(const SSProcessDLLLoad&) = delete;

    // False when a library is loaded already or none can be loaded; true
    // otherwise, even when an export is missing.
    bool Load(SSPackSendFunc sendFunction, void* context);
    void Unload();
    // True only when the library took the packet.
    bool Dispatch(MMORPG::MMORPGPacket* packet);
    bool IsLoaded() const { return m_Module != nullptr; }

private:
    SetPackSendFuncFunc m_SetPackSendFunc = nullptr;
    OnStatusRequestFunc m_OnStatusRequest = nullptr;
    plat::ModuleHandle m_Module = nullptr;
};
