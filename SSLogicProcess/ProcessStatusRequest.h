// CProcessStatusRequest: decides whether the gateway answers a status
// request itself. It asks the handler the host installed, then falls back
// to its own base-information answer; what neither takes is left for the
// script queue. Owned by CSSLogicProcess. The handler fields are written on
// the window thread before the request thread runs, and read only by the
// request thread afterwards.
#pragma once

#include "SSLogicProcess/ISSLogicProcess.h"

class CSSLogicProcess;

class CProcessStatusRequest {
public:
    // owner: the link whose SendPack carries the default reply (not owned).
    explicit CProcessStatusRequest(CSSLogicProcess* owner) : m_Owner(owner) {}

    void SetRequestHandler(StatusRequestHandler handler, void* context);
    // A non-null function replaces the handler by an adapter that calls it;
    // a null one only clears the function (the adapter then answers false).
    void SetRequestFunction(StatusRequestFunction function);
    // True when the packet was used up.
    bool HandleRequest(MMORPG::MMORPGPacket* packet);

private:
    static bool CallRequestFunction(void* context, MMORPG::MMORPGPacket* packet);
    // The default answer to the base-information request: CPU (id 56) and
    // page-file usage (id 57) of the process.
    void SendDefaultBaseInfo(MMORPG::MMORPGPacket* packet);

    CSSLogicProcess* m_Owner;
    StatusRequestHandler m_Handler = nullptr;
    void* m_HandlerContext = nullptr;
    StatusRequestFunction m_Function = nullptr;
};
